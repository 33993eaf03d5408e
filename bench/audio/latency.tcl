# Plays short buffers on the virtual device in real time and measures how long after
# the end of each buffer's sound the script waiting for it runs:
#   done   the object's done command (runs when the device closes after the buffer)
#   event  a script of `Winaudio event` (which goes through `after 1` by design)
# Then the processor time the process spends per second of sound while it plays
# 250 ms buffers in real time.
# The end of play is taken as the write time plus the buffer's duration; the device's
# clock starts a little after the write, so the figures are upper bounds.
package require Pelvane
package require Testwave

set rounds [expr {[llength $argv] ? [lindex $argv 0] : 40}]
set rate 8000
set frames 400                      ;# 50 ms
set w [testwave make $rate [lrepeat $frames 0]]
set playUs [expr {$frames * 1000000 / $rate}]

proc stats {name list} {
    set s [lsort -real $list]
    set n [llength $s]
    set mean [expr {[tcl::mathop::+ {*}$s] / double($n)}]
    puts [format "%-6s n=%d  min %.2f  median %.2f  mean %.2f  p95 %.2f  max %.2f ms" $name $n \
        [expr {[lindex $s 0] / 1000.0}] [expr {[lindex $s [expr {$n / 2}]] / 1000.0}] [expr {$mean / 1000.0}] \
        [expr {[lindex $s [expr {int($n * 0.95)}]] / 1000.0}] [expr {[lindex $s end] / 1000.0}]]
}

set done {}
set event {}
for {set i 0} {$i < $rounds} {incr i} {
    set o [Winaudio outopen 0 $rate 1 {set ::tDone [clock microseconds]}]
    unset -nocomplain ::tDone ::tEvent
    set t0 [clock microseconds]
    Winaudio write $o $w
    Winaudio event $o {set ::tEvent [clock microseconds]}
    foreach v {::tDone ::tEvent} { if {![info exists $v]} { vwait $v } }
    lappend done [expr {$::tDone - $t0 - $playUs}]
    lappend event [expr {$::tEvent - $t0 - $playUs}]
}
puts "delay from the end of a $playUs us buffer to its script, virtual device, $rounds rounds:"
stats done $done
stats event $event

# Processor time (user + system, from /proc) per second of sound.
proc cpuSeconds {} {
    set f [open /proc/self/stat]
    set fields [split [lindex [split [read $f] ")"] end]]
    close $f
    # utime and stime are fields 14 and 15 of the whole line, in clock ticks (100 per second)
    expr {([lindex $fields 12] + [lindex $fields 13]) / 100.0}
}
set seconds 4
set block [testwave make $rate [lrepeat [expr {$rate / 4}] 0]]
set o [Winaudio outopen 0 $rate 1 {set ::allDone 1}]
set c0 [cpuSeconds]
set t0 [clock microseconds]
for {set i 0} {$i < $seconds * 4} {incr i} { Winaudio write $o $block }
vwait ::allDone
set wall [expr {([clock microseconds] - $t0) / 1e6}]
puts [format "cpu    %.2f%% of one core while playing %d s of sound (%.2f s of wall time)" \
    [expr {100.0 * ([cpuSeconds] - $c0) / $wall}] $seconds $wall]
