# Helpers shared by the tests of the front-end packages (sourced, not a test).

# A matrix word: one list item that holds the rows.
proc M {args} { list $args }

# A 16-bit wave holding the given samples.
proc mkwave {samples {rate 16000}} {
    set f [file tempfile path]
    fconfigure $f -translation binary
    puts -nonewline $f [binary format s* $samples]
    flush $f
    seek $f 0
    set w [wave readpipe -linear -maxsize [expr {max(1, [llength $samples])}] -rate $rate $f]
    close $f
    file delete $path
    return $w
}

proc samples {w} { wave print $w }

# Debian's python with scipy (not whatever python3 is first on the path).
set ::python /usr/bin/python3
testConstraint scipy [expr {![catch {exec env -u LD_PRELOAD $::python -c "import scipy.signal, scipy.cluster.vq"}]}]
proc python {script} { exec env -u LD_PRELOAD $::python -c $script }

# Speech at 16 kHz, spoken and resampled by Debian's tools, as a RIFF file in dir.
proc speechFile {dir} {
    set path [file join $dir speech16k.wav]
    if {![file exists $path]} {
        set raw [file join $dir speech.wav]
        # Outside tools run without the sanitizer runtime that the tests may preload.
        exec env -u LD_PRELOAD espeak-ng -w $raw "seven oranges were sold at the market on tuesday"
        exec env -u LD_PRELOAD sox $raw -r 16000 -b 16 -c 1 $path
    }
    return $path
}

# The samples of a RIFF file read back through a pipe as waves of n samples.
proc blocks {path n} {
    set f [open $path rb]
    read $f 44
    set out {}
    while {1} {
        set w [wave readpipe -linear -maxsize $n -rate 16000 $f]
        if {[wave info -samples $w] == 0} break
        lappend out $w
    }
    close $f
    return $out
}

# An arrayF object holding the given rows (through a pipe delay of 0 frames).
proc arrayF {rows} {
    set d [feature delay initialize 0 -feature [llength [lindex $rows 0]]]
    return [feature delay $d [list $rows]]
}
