# qxr8 report template
[report]
name = Monthly sales
source = sales
group_by = region, month
page = A4 landscape

[columns]
region = Region
month = Month
orders = Orders; format=integer
revenue = Revenue; format=currency; total=sum

[footer]
text = Generated on {date} by {user}
