# Spoken digit strings recognised with word HMMs: espeak-ng says random digit
# strings, sig2fv makes mel-cepstral features in HTK files, word models are
# trained here from a flat start (the likelihood rises each pass), and the
# hierarchical search decodes held-out strings. Prints the likelihood of
# each pass and the word error rate.
#
#   build/bin/tovik hmmdigits.tcl ?-train N? ?-test N? ?-passes N? ?-states N? ?-seed S? ?-dir D? ?-keepwaves 0|1?
# (mkrr is run from the folder of the tovik that runs this script)
package require Mx
package require Hmm
package require Halbrin
package require Talmok
package require Sevrin
package require Mostrel

array set opt {-train 120 -test 40 -passes 8 -states 8 -seed 7 -dir hmmdigits-work -keepwaves 0}
array set opt $argv
set dir [file normalize $opt(-dir)]
file mkdir $dir

set digits {zero one two three four five six seven eight nine}
set voices {en-us en-gb en+m3 en+f2 en-us+m7 en+f4}

# A small generator of our own, so that runs repeat on every machine.
set rng $opt(-seed)
proc rand01 {} {
    set ::rng [expr {($::rng * 1103515245 + 12345) % 2147483648}]
    expr {$::rng / 2147483648.0}
}
proc pick {list} { lindex $list [expr {int([rand01] * [llength $list])}] }

proc digitString {} {
    set out {}
    for {set i [expr {1 + int([rand01] * 5)}]} {$i > 0} {incr i -1} { lappend out [pick $::digits] }
    return $out
}

# Speaks the words, pads silence round them and makes the HTK feature file.
proc makeUtterance {name words} {
    set base [file join $::dir $name]
    set speed [expr {130 + int([rand01] * 60)}]
    set pitch [expr {30 + int([rand01] * 40)}]
    exec espeak-ng -v [pick $::voices] -s $speed -p $pitch -w $base.raw.wav [join $words]
    exec sox $base.raw.wav -r 16000 $base.wav pad 0.2 0.2 dither
    exec sig2fv $base.wav -o $base.htk -otype htk -coefs {melcep energy} -delta {melcep energy} \
        -melcep_order 12 -fbank_order 24 -shift 0.01 -factor 2.5 -preemph 0.97 2>@1
    file delete $base.raw.wav
    if {!$::opt(-keepwaves)} { file delete $base.wav }
    return $base.htk
}

# Features of one file: the cepstra and the log energy with their deltas
# (the file's first column, the frame time, is left out).
proc features {file} {
    set m [htk hcode-> $file]
    set rows {}
    foreach r [lindex [mx puts $m] 0] {
        lappend rows [concat [lrange $r 1 12] [expr {log([lindex $r 13] + 1.0)}] [lrange $r 14 25] \
                          [expr {[lindex $r 26] / ([lindex $r 13] + 1.0)}]]
    }
    nuke $m
    mx set [list $rows]
}

puts "making $opt(-train) training and $opt(-test) test strings"
set train {}
set test {}
for {set i 0} {$i < $opt(-train) + $opt(-test)} {incr i} {
    set words [digitString]
    set file [makeUtterance u$i $words]
    if {$i < $opt(-train)} { lappend train $file $words } else { lappend test $file $words }
}

# The global mean and variance of the training frames: every state starts
# there (the flat start).
set feats {}
set n 0
foreach {file words} $train {
    set f [features $file]
    dict set feats $file $f
    foreach r [lindex [mx puts $f] 0] {
        if {![info exists sum]} { set sum [lrepeat [llength $r] 0.0]; set sq $sum }
        set k 0
        foreach x $r {
            lset sum $k [expr {[lindex $sum $k] + $x}]
            lset sq $k [expr {[lindex $sq $k] + $x * $x}]
            incr k
        }
        incr n
    }
}
set dim [llength $sum]
set mean {}
set var {}
foreach s $sum q $sq {
    set m [expr {$s / $n}]
    lappend mean $m
    lappend var [expr {max($q / $n - $m * $m, 1e-4)}]
}

proc transp {states} {
    set n [expr {$states + 2}]
    set out "<TRANSP> $n\n"
    for {set i 0} {$i < $n} {incr i} {
        set row {}
        for {set j 0} {$j < $n} {incr j} {
            if {$i == 0} { lappend row [expr {$j == 1 ? 1.0 : 0.0}]
            } elseif {$i == $n - 1} { lappend row 0.0
            } elseif {$j == $i} { lappend row 0.6
            } elseif {$j == $i + 1} { lappend row 0.4
            } else { lappend row 0.0 }
        }
        append out [join $row] \n
    }
    return $out
}

set proto "~o <VECSIZE> $dim <USER>\n"
set models [concat sil $digits]
foreach w $models {
    set states [expr {$w eq "sil" ? 3 : $opt(-states)}]
    append proto "~h \"$w\" <BEGINHMM> <NUMSTATES> [expr {$states + 2}]\n"
    for {set s 2} {$s <= $states + 1} {incr s} {
        append proto "<STATE> $s <MEAN> $dim $mean\n<VARIANCE> $dim $var\n"
    }
    append proto [transp $states] "<ENDHMM>\n"
}
set f [open [file join $dir proto.mmf] w]
puts $f $proto
close $f
set f [open [file join $dir models.list] w]
puts $f [join $models \n]
close $f
set f [open [file join $dir entries] w]
foreach w $models { puts $f "$w $w" }
close $f
exec [file join [file dirname [info nameofexecutable]] mkrr] [file join $dir entries] [file join $dir models.list] [file join $dir hmm.rr]
set desc [recognizer load [file join $dir hmm.rr]]
hmm load [file join $dir proto.mmf] [file join $dir models.list] pool list

# Embedded training: each utterance is silence, its words, silence.
set seqs {}
foreach {file words} $train {
    set labels [halbrin create -nosort {*}[lmap w [concat sil $words sil] {list 0 1 $w}]]
    lappend seqs $file [hmm concat $desc $list $labels]
}
set previous -1e300
for {set pass 1} {$pass <= $opt(-passes)} {incr pass} {
    unset -nocomplain fb
    set skipped 0
    foreach {file seq} $seqs {
        if {[catch {hmm embed $seq [dict get $feats $file] fb -prune 2000} score]} { incr skipped }
    }
    puts [format "pass %d: log likelihood per frame %.4f (%d strings left out)" $pass $score $skipped]
    if {$score < $previous} { puts "the likelihood fell" }
    set previous $score
    nuke $fb
    hmm update $pool
}
hmm save [file join $dir trained.mmf] [file join $dir trained.list] $pool $list

# Decoding of the held-out strings.
set w [word context [word create [lmap d [concat sil $digits] {list $d $d}]] $desc]
set g [grammar create [list [list digits "\$d = [join $digits { | }]; \[sil\] < \$d \[sil\] >"]]]
set s [sevrin grammar $g $w]
sevrin set $s $pool $list
sevrin configure $s -beam 400 -shortpen 0.05

# The words heard in a feature matrix, and the errors against those said.
proc recognise {s f said} {
    sevrin reset $s
    sevrin forward $s $f
    set hyp {}
    if {![catch {sevrin forwardbest $s} best]} {
        set hyp [lsearch -all -inline -not -exact [lmap x [halbrin print [lindex $best 1]] {lindex $x 2}] sil]
    }
    lassign [sevrin score $said $hyp] a c sub del ins
    list $hyp [expr {$sub + $del + $ins}]
}

set errors 0
set words 0
set frames 0
set t0 [clock microseconds]
foreach {file said} $test {
    set f [features $file]
    incr frames [lindex [mx dim $f] 0]
    lassign [recognise $s $f $said] hyp e
    incr errors $e
    incr words [llength $said]
    if {$e} { puts "  said {$said} heard {$hyp}" }
}
set secs [expr {([clock microseconds] - $t0) / 1e6}]
puts [format "decoding: %.1f times faster than real time" [expr {$frames * 0.01 / $secs}]]
puts [format "WER %.1f%% (%d errors in %d words)" [expr {100.0 * $errors / $words}] $errors $words]
