/* server = ConnectServer()
   Connects to the test's own tdslite (the environment variable KTDB_SERVER,
   which with_tdslite.sh sets) as ktdb, checked as "connect"; answers the
   server, for a script that connects again. The package must be loaded. */
server = value('KTDB_SERVER', , 'ENVIRONMENT')
call Check 'connect', KTConnect('ktdb', 'secret', server), '1'
return server
