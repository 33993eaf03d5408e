# Times `nnet x` of a 130-200-48 network over 100,000 frames and the same
# forward pass in numpy float32, and prints the ratio of their throughputs.
package require Dravin

set numpyScript [lindex $argv 0]
set frames 100000
set dir [file join [pwd] nnet_bench_files]
file mkdir $dir

proc optfile {path sizes scale} {
    set w {}
    set n 0
    for {set j 0} {$j < [llength $sizes] - 1} {incr j} {
        incr n [expr {[lindex $sizes $j] * [lindex $sizes $j+1]}]
    }
    for {set i 0} {$i < $n} {incr i} { lappend w [expr {(rand() - 0.5) * $scale}] }
    set f [open $path wb]
    puts -nonewline $f [binary format II 1 [llength $sizes]][binary format I* $sizes][binary format R* $w]
    close $f
    return $path
}

expr {srand(1)}
set net [nnet optload [optfile [file join $dir net] {131 200 48} 0.5]]
# The input frames come from a 1-130 network run over a column of numbers,
# which makes a 100,000 x 130 matrix without a huge list.
set gen [nnet optload [optfile [file join $dir gen] {2 130} 8]]
set column {}
for {set i 0} {$i < $frames} {incr i} { lappend column [list [expr {$i / double($frames)}]] }
set X [nnet x $gen [list $column]]
unset column

set Y [nnet x $net $X]
set best 1e9
for {set r 0} {$r < 5} {incr r} {
    set t0 [clock microseconds]
    nnet x $net $X $Y
    set t [expr {([clock microseconds] - $t0) / 1e6}]
    if {$t < $best} { set best $t }
}
set python /usr/bin/python3
if {![file executable $python]} { set python python3 }
set numpy [string trim [exec $python $numpyScript $frames]]

set flops [expr {2.0 * $frames * (130 * 200 + 200 + 200 * 48 + 48)}]
puts [format "nnet x : %8.4f s  %10.0f frames/s  %6.1f GFLOP/s" $best [expr {$frames / $best}] [expr {$flops / $best / 1e9}]]
puts [format "numpy  : %8.4f s  %10.0f frames/s  %6.1f GFLOP/s" $numpy [expr {$frames / $numpy}] [expr {$flops / $numpy / 1e9}]]
puts [format "throughput ratio nnet x / numpy: %.2f (aim: at least 0.7)" [expr {$numpy / $best}]]
file delete -force $dir
