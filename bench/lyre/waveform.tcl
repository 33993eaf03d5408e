# Draws one hour of 16 kHz sound whole in a 1000-pixel window, then scrolls
# through it 100 pixels at a time at 10 ms a pixel, with lwave and with
# snack's waveform canvas item on the same file; prints both times and the
# ratio. Needs sox, snack (tcl-snack) and a display (run under xvfb-run).
package require Tk
package require Wave
package require Lyre
package require snack

set dir [lindex $argv 0]
set seconds 3600
set steps 300
set file [file join $dir hour.wav]
if {![file exists $file]} {
    exec sox -n -r 16000 -b 16 -c 1 $file synth $seconds sine 200-3000 synth $seconds tremolo 3 70
}
wm geometry . +0+0

proc timeIt {script} {
    set t0 [clock microseconds]
    uplevel 1 $script
    expr {([clock microseconds] - $t0) / 1000.0}
}

# lwave: the whole hour fitted to the window, then a 10-second view moved by
# 100 pixels a step (the widget copies the view and draws the new strip).
set w [wave read $file]
set whole(lwave) [timeIt {
    lwave .lw $w -width 1000 -height 150 -fittowindow 1
    pack .lw
    update
}]
set scroll(lwave) [timeIt {
    .lw configure -fittowindow 0 -resolution 10
    update
    for {set i 0} {$i < $steps} {incr i} {
        .lw xview scroll 1 units
        update
    }
}]
destroy .lw

# snack: the same views with its waveform item, the range set per step.
snack::sound s -load $file
set n [s length]
set whole(snack) [timeIt {
    canvas .c -width 1000 -height 150 -highlightthickness 0
    pack .c
    .c create waveform 0 0 -sound s -width 1000 -height 150 -start 0 -end [expr {$n - 1}] -tags wf
    update
}]
set scroll(snack) [timeIt {
    for {set i 0} {$i < $steps} {incr i} {
        set a [expr {$i * 16000}]
        .c itemconfigure wf -start $a -end [expr {$a + 160000 - 1}]
        update
    }
}]

foreach k {whole scroll} {
    upvar 0 $k v
    puts [format "%-7s lwave %9.1f ms   snack %9.1f ms   snack/lwave %.2f" $k $v(lwave) $v(snack) \
        [expr {$v(snack) / max($v(lwave), 0.001)}]]
}
exit
