# Shared by the Festival tests: start the synthesiser once, evaluate Lisp
# for its side effects, and read and write 16-bit mono WAV fixtures.
package require Festival
# A smaller heap than the default starts faster and is plenty for the tests.
if {[info commands festival] eq ""} { festivalInit -heapsize 2000000 }

# Evaluates a Lisp expression whose value has no text form (an utterance).
proc lisp {expr} { festival "(begin $expr nil)" }

proc tmpfile {name} { file join [::tcltest::temporaryDirectory] $name }

proc writeWav {path rate samples} {
    set data [binary format s* $samples]
    set n [string length $data]
    set f [open $path wb]
    puts -nonewline $f [binary format a4ia4a4issiissa4i RIFF [expr {36 + $n}] WAVE "fmt " 16 1 1 \
        $rate [expr {$rate * 2}] 2 16 data $n]
    puts -nonewline $f $data
    close $f
}

proc readWav {path} {
    set f [open $path rb]
    set d [read $f]
    close $f
    # Walk the chunks to "data"; festival writes the canonical layout.
    set pos 12
    while {$pos < [string length $d]} {
        binary scan $d @${pos}a4i id size
        if {$id eq "data"} {
            binary scan $d @[expr {$pos + 8}]s[expr {$size / 2}] s
            return $s
        }
        incr pos [expr {8 + $size}]
    }
    error "no data chunk in $path"
}

# Makes the Lisp utterance NAME hold SAMPLES at RATE as its wave.
proc uttWithWave {name rate samples} {
    set p [tmpfile $name.wav]
    writeWav $p $rate $samples
    lisp "(set! $name (Utterance Text \"\"))"
    lisp "(utt.import.wave $name \"$p\" nil)"
}

# The samples of the wave of utterance NAME.
proc uttSamples {name} {
    set p [tmpfile $name.out.wav]
    lisp "(utt.save.wave $name \"$p\" 'riff)"
    readWav $p
}

proc repeat {n v} { lrepeat $n $v }

# The speech tools cannot read a WAV file of fewer than about 100 samples,
# so short fixtures are padded with silence to 200.
proc padded {samples} { concat $samples [repeat [expr {max(0, 200 - [llength $samples])}] 0] }

# Runs the Lisp expressions in a fresh process with a started synthesiser
# and answers what it wrote on the error stream (start-up happens once per
# process, and the messages of the C++ code bypass Tcl's stderr channel).
proc childStderr {args} {
    set script "package require Festival\nfestivalInit -heapsize 2000000\n"
    foreach expr $args { append script [list catch [list festival $expr]] \n }
    set child [makeFile $script stderrchild.tcl]
    set err [tmpfile stderrchild.err]
    exec [info nameofexecutable] $child 2>$err
    viewFile $err
}

proc readTrackTimes {path} {
    set f [open $path]
    set d [read $f]
    close $f
    set body [lindex [regexp -inline {EST_Header_End\n(.*)} $d] 1]
    set times {}
    foreach line [split $body \n] {
        if {[llength $line] > 0} { lappend times [lindex $line 0] }
    }
    return $times
}

# The laryngograph signal: a sharp rise at each closure, a slow fall, a
# little noise; nothing between voiced stretches.
proc makeLx {path truth {seconds 2.2}} {
    set n [expr {int($seconds * 16000)}]
    set x [lrepeat $n 0.0]
    set prev -1
    foreach t $truth {
        set n0 [expr {int(round($t * 16000))}]
        set P [expr {$prev < 0 || $n0 - $prev > 300 ? 130 : $n0 - $prev}]
        for {set k 0} {$k < $P && $n0 + $k < $n} {incr k} {
            set v [expr {$k < 0.4 * $P ? exp(-$k / (0.25 * $P)) : exp(-1.6) * ($P - $k) / (0.6 * $P)}]
            lset x [expr {$n0 + $k}] [expr {8000 * $v}]
        }
        set prev $n0
    }
    set seed 1
    set out {}
    foreach v $x {
        set seed [expr {($seed * 1103515245 + 12345) % 2147483648}]
        lappend out [expr {int($v + ($seed % 61) - 30)}]
    }
    writeWav $path 16000 $out
}
