# qxr8 form template
[form]
name = Customer card
table = customers
width = 640
height = 420

[fields]
code = Customer code; readonly
name = Name; required
address = Address; lines=3
phone = Phone
email = E-mail; check=email
