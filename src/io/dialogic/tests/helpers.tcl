# Shared by the telephony tests: packages, sounds made by sox, the far end's sound
# read back by multimon-ng, and waiting on events with a time limit.
package require tcltest 2
namespace import ::tcltest::*
package require Testwave
package require Vphone

set scratch [makeDirectory tel-[pid]]
proc bgerror {msg} { lappend ::bgerrors $msg }

# A WAV file of 8 kHz sound that sox makes from its arguments (after the output).
proc soxWav {name args} {
    set path [file join $::scratch $name]
    exec sox -n -r 8000 -b 16 -c 1 $path {*}$args
    return $path
}

# The touch tones multimon-ng hears in a WAV file.
proc multimonDigits {path} {
    set out [exec sox $path -t raw -r 22050 -e signed -b 16 -c 1 - | multimon-ng -q -c -a DTMF -t raw - 2>/dev/null]
    set digits ""
    foreach line [split $out \n] {
        if {[regexp {^DTMF: (.)} $line -> d]} { append digits $d }
    }
    return $digits
}

# The far end's sound as samples.
proc heardSamples {target} {
    set path [file join $::scratch heard-$target.wav]
    vphone heard $target $path
    set w [testwave make 8000 {}]
    testwave destroy $w
    set f [open $path rb]
    set data [read $f]
    close $f
    binary scan [string range $data 44 end] s* s
    return $s
}

# The rms of samples from index a to b.
proc rms {samples {a 0} {b end}} {
    set sum 0.0
    set n 0
    foreach s [lrange $samples $a $b] { set sum [expr {$sum + $s * $s}]; incr n }
    expr {$n ? sqrt($sum / $n) : 0}
}

# A sine wave object of ms milliseconds.
proc toneWave {hz ms {amp 8000}} {
    set n [expr {$ms * 8}]
    set s {}
    for {set i 0} {$i < $n} {incr i} { lappend s [expr {int($amp * sin(6.283185307 * $hz * $i / 8000.0))}] }
    testwave make 8000 $s
}

# Waits until the event list holds an event that matches pattern; answers it.
proc waitEvent {pattern {ms 5000}} {
    set deadline [expr {[clock milliseconds] + $ms}]
    while {[clock milliseconds] < $deadline} {
        foreach e $::events {
            if {[string match $pattern $e]} { return $e }
        }
        set ::_tick 0
        set id [after 20 {set ::_tick 1}]
        vwait ::_tick
    }
    return timeout
}

# The channel callback: every event is kept; a recorded wave is kept as its rms, since
# the object is gone when the script returns.
proc ev {args} {
    if {[lindex $args 0] in {wave cplay}} {
        lappend ::events [list [lindex $args 0] [expr {int([rms [testwave samples [lindex $args 1]]])}]]
        return
    }
    lappend ::events $args
}
