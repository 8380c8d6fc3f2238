# qxr8 report template
[report]
name = Quarterly balance
source = ledger
group_by = quarter, account_class
page = A4 portrait

[columns]
account = Account
debit = Debit; format=currency; total=sum
credit = Credit; format=currency; total=sum
balance = Balance; format=currency; expr=debit-credit
