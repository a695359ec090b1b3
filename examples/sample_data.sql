-- Sample data for the examples: a table of fruit and a table of files.
-- Batches are separated by lines that hold only "go".
create table fruit (id int primary key, name varchar(20) not null,
                    price decimal(6,2), picked datetime, note nvarchar(40))
create table files (id int primary key, name varchar(255) not null, data image)
go
insert into fruit values (1, 'apple', 0.45, '2024-09-12 08:30', N'crisp, sweet')
insert into fruit values (2, 'pear', 0.60, '2024-09-20 14:05', NULL)
insert into fruit values (3, 'quince', 1.25, '2024-10-02 11:00', N'for jelly & jam')
insert into fruit values (4, 'fig', 2.10, '2024-08-30 17:45', N'the "black" kind')
insert into fruit values (5, 'plum', 0.30, '2024-09-01 09:15', N'<ripe>')
go
