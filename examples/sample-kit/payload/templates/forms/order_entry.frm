# qxr8 form template
[form]
name = Order entry
table = orders
width = 800
height = 560

[fields]
number = Order number; readonly; default=next
customer = Customer; lookup=customers.code
date = Date; default=today
lines = Order lines; grid=order_lines
