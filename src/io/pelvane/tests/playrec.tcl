# Plays a wave and waits for the device's done script, then records three fixed
# buffers; the same script for every back end (TOVIK_AUDIO).
#   tclsh playrec.tcl OUTFILE   OUTFILE is where the device's sound ends up; the input
#                               device must record the samples of [ramp 2400 7 3].
# Prints "played ok" when OUTFILE holds the samples, then "recorded N N N ok" when the
# callback got one fresh wave per buffer holding the input's samples.
package require Pelvane
package require Testwave

proc ramp {n from step} {
    set s {}
    for {set k 0} {$k < $n} {incr k} { lappend s [expr {$from + $k * $step}] }
    return $s
}

set outFile [lindex $argv 0]
set samples [ramp 4000 -2000 1]

set o [Winaudio outopen 0 8000 1 {set ::done 1}]
Winaudio write $o [testwave make 8000 $samples]
vwait ::done
set f [open $outFile rb]
binary scan [read $f] s* heard
close $f
puts "played [expr {$heard eq $samples ? "ok" : "differs"}]"

set names {}
set waves {}
proc got {w args} {
    lappend ::names $w
    lappend ::waves [testwave samples $w]
    if {[llength $::waves] == 3} { Winaudio stop $::in }
}
set in [Winaudio inopen 0 8000 1 {set ::closed 1}]
Winaudio start $in got -blocksize 100 -buffers 3
vwait ::closed
set first [lrange $waves 0 2]
set fresh [expr {[llength [lsort -unique $names]] == [llength $names]}]
puts "recorded [lmap w $first {llength $w}] [expr {$fresh && [join $first] eq [ramp 2400 7 3] ? "ok" : "differs"}]"
