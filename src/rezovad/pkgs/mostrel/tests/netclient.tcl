# A client for the remote-evaluation tests, run in its own process:
#   tovik netclient.tcl PORT PASSWORD
# links, evaluates, aliases both ways and sends an object; prints one
# result per line.
package require Mostrel
lassign $argv port password
context link L 127.0.0.1 $port $password
puts [L eval {expr {6 * 7}}]
L alias hello set ::last
puts [L eval {hello 5}]
puts $::last
puts [L eval {S alias [S client] shout string toupper; shout quiet}]
set r [raw create -value "from the client"]
L send $r
puts [L eval {raw set [lindex $::got end]}]
puts [catch {context link L2 127.0.0.1 $port wrong} m]-$m
