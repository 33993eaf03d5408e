# Shared by the Winaudio tests: packages, a scratch folder, the device's output file,
# waiting with a time limit, and background errors kept for inspection.
package require tcltest 2
namespace import ::tcltest::*
package require Pelvane
package require Testwave

set scratch [makeDirectory pelvane-[pid]]

proc bgerror {msg} { lappend ::bgerrors $msg }

# Points the virtual output at a fresh file and answers its path.
proc freshOutput {{name out.raw}} {
    set path [file join $::scratch $name]
    file delete $path
    set ::env(TOVIK_AUDIO_OUT) $path
    return $path
}

# The 16-bit samples in a file.
proc samplesIn {path} {
    if {![file exists $path]} { return {} }
    set f [open $path rb]
    binary scan [read $f] s* s
    close $f
    return $s
}

proc bytesIn {path} {
    set f [open $path rb]
    binary scan [read $f] cu* b
    close $f
    return $b
}

# Writes 16-bit samples to a file and answers its path.
proc sampleFile {name samples} {
    set path [file join $::scratch $name]
    set f [open $path wb]
    puts -nonewline $f [binary format s* $samples]
    close $f
    return $path
}

proc ramp {n {from 0} {step 1}} {
    set s {}
    for {set k 0} {$k < $n} {incr k} { lappend s [expr {($from + $k * $step) % 65536 - 32768}] }
    return $s
}

# Waits for a global variable to be set, at most ms milliseconds; answers its value
# or "timeout".
proc waitFor {var {ms 5000}} {
    set id [after $ms [list set $var timeout]]
    vwait $var
    after cancel $id
    return [set $var]
}

# Serves events for ms milliseconds.
proc pause {ms} {
    set ::_pause 0
    after $ms {set ::_pause 1}
    vwait ::_pause
}
