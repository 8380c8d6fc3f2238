# qxr8 report template
[report]
name = Inventory summary
source = stock
group_by = warehouse
page = A4 portrait

[columns]
sku = Article
title = Description
on_hand = On hand; format=integer
reorder = Reorder level; format=integer; highlight=on_hand<reorder
