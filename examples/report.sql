-- A small report: what run_sql.rexx prints for every result set.
select count(*) as fruits, sum(price) as total from fruit
select name, price from fruit where price > 0.5 order by price desc
go
update fruit set price = price + 0.05 where name = 'plum'
select name, price from fruit where name = 'plum'
go
