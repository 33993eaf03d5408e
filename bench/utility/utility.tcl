# tclsh utility.tcl TOVIK
# 1. Reading a zip member through a channel against `unzip -p` of the same
#    member (both to the end of the data, the member inflated once each).
# 2. Round trips of `LINK eval {}` between two processes against a line
#    echoed over a plain Tcl socket between two processes.
# Each prints the time per operation of both and their ratio.
package require Fandril
package require Mostrel

set tovik [lindex $argv 0]
set dir [file join [pwd] bench-utility-[pid]]
file mkdir $dir

proc perOp {script n} {
    set t0 [clock microseconds]
    for {set i 0} {$i < $n} {incr i} { uplevel 1 $script }
    expr {double([clock microseconds] - $t0) / $n}
}
proc report {what ours peer} {
    puts [format "%-34s ours %10.1f us  peer %10.1f us  ratio %.2f" $what $ours $peer [expr {$ours / $peer}]]
}

# --- zip reads ---------------------------------------------------------------
set f [open $dir/data.bin wb]
set line "a line of text with some numbers 12345 67890 that compresses well\n"
for {set i 0} {$i < 150000} {incr i} { puts -nonewline $f "$i $line" }
close $f
exec sh -c "cd [list $dir] && zip -q data.zip data.bin"
set size [file size $dir/data.bin]
set zipReads 10
set ours [perOp {
    set c [zopen <$dir/data.zip>data.bin]
    read $c
    close $c
} $zipReads]
set peer [perOp { exec unzip -p $dir/data.zip data.bin > /dev/null } $zipReads]
report "zip member of [expr {$size >> 20}] MiB" $ours $peer

# --- round trips ---------------------------------------------------------------
proc startChild {cmd} {
    set pipe [open |$cmd r+]
    fconfigure $pipe -buffering line
    gets $pipe port
    return [list $pipe $port]
}
lassign [startChild [list $tovik -c {
    package require Mostrel
    puts [context tcp S -myaddr 127.0.0.1 -password bench]
    flush stdout
    fileevent stdin readable exit
    vwait forever
}]] evalPipe evalPort
set f [open $dir/echo.tcl w]
puts $f {
    proc echo {s} {
        if {[gets $s line] < 0} { close $s; return }
        puts $s $line
        flush $s
    }
    proc accept {s args} { fconfigure $s -buffering full; fileevent $s readable [list echo $s] }
    set server [socket -server accept -myaddr 127.0.0.1 0]
    puts [lindex [fconfigure $server -sockname] 2]
    flush stdout
    fileevent stdin readable exit
    vwait forever
}
close $f
lassign [startChild [list [info nameofexecutable] $dir/echo.tcl]] echoPipe echoPort

context link L 127.0.0.1 $evalPort bench
set s [socket 127.0.0.1 $echoPort]
fconfigure $s -buffering full
set trips 3000
L eval {}
set ours [perOp { L eval {} } $trips]
set peer [perOp { puts $s x; flush $s; gets $s } $trips]
report "eval round trip (loopback)" $ours $peer

rename L {}
close $s
close $evalPipe
close $echoPipe
file delete -force $dir
