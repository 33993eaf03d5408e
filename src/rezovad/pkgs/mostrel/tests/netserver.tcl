# A server context for the remote-evaluation tests, run in its own process:
#   tovik netserver.tcl ?PASSWORD?
# prints "PORT PASSWORD" and serves until its standard input closes (or a
# minute has passed). Events go to ::events as {context id event} triples.
package require Mostrel
set opts [expr {[llength $argv] ? [list -password [lindex $argv 0]] : {}}]
set port [context tcp S -myaddr 127.0.0.1 {*}$opts]
set ::events {}
S event unknown lappend ::events
puts "$port [dict get [S info] password]"
flush stdout
fileevent stdin readable {if {[gets stdin line] < 0} exit}
after 60000 exit
vwait forever
