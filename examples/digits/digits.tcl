# Spoken digit strings recognised end to end: festival speaks random digit
# strings, its phone times label the frames, a network trained here with
# tremid scores the frames, and the grammar search finds the words of
# held-out strings. Prints the word error rate.
#
#   build/bin/tovik digits.tcl ?-train N? ?-test N? ?-iters N? ?-hidden N? ?-seed S? ?-dir D?
# (tremid is run from the folder of the tovik that runs this script)
# The network runs a few hundred frames at a time, where threads of the
# linear-algebra library would only wait on each other.
if {![info exists env(OPENBLAS_NUM_THREADS)]} { set env(OPENBLAS_NUM_THREADS) 1 }
package require Wave
package require Feature
package require Context
package require Dravin
package require Mx
package require Word
package require Search
package require Brenlow

array set opt {-train 120 -test 40 -iters 12 -hidden 64 -seed 11 -dir digits-work}
array set opt $argv
set dir [file normalize $opt(-dir)]
file mkdir $dir

# Pronunciations in the synthesiser's phone names; one network output each.
set lexicon {
    zero {z ih r ow} one {w ah n} two {t uw} three {th r iy} four {f ao r} five {f ay v}
    six {s ih k s} seven {s eh v ax n} eight {ey t} nine {n ay n} oh {ow}
}
set phones {pau}
foreach {w p} $lexicon { foreach x $p { if {$x ni $phones} { lappend phones $x } } }

# A small generator of our own, so that runs repeat on every machine.
set rng $opt(-seed)
proc rand01 {} {
    set ::rng [expr {($::rng * 1103515245 + 12345) % 2147483648}]
    expr {$::rng / 2147483648.0}
}

proc digitString {} {
    set words [dict keys $::lexicon]
    set n [expr {1 + int([rand01] * 5)}]
    set out {}
    for {set i 0} {$i < $n} {incr i} { lappend out [lindex $words [expr {int([rand01] * [llength $words])}]] }
    return $out
}

# Speaks every utterance in one festival run: wave and phone end times.
proc synthesise {utts} {
    set scm [file join $::dir gen.scm]
    set f [open $scm w]
    puts $f "(voice_kal_diphone)"
    foreach {name words stretch} $utts {
        set base [file join $::dir $name]
        puts $f "(Parameter.set 'Duration_Stretch $stretch)"
        puts $f "(set! u (utt.synth (Utterance Text \"$words\")))"
        puts $f "(utt.save.wave u \"$base.wav\" 'riff)"
        puts $f "(utt.save.segs u \"$base.lab\")"
    }
    close $f
    exec festival -b $scm
}

# Phone per 10 ms frame from the label file (frame centres).
proc frameLabels {lab count} {
    set f [open $lab]; set lines [split [read $f] \n]; close $f
    set ends {}
    foreach l $lines { if {[llength $l] == 3} { lappend ends [lindex $l 0] [lindex $l 2] } }
    set out {}
    set k 0
    for {set t 0} {$t < $count} {incr t} {
        set centre [expr {$t * 0.010 + 0.0125}]
        while {$k < [llength $ends] - 2 && [lindex $ends $k] < $centre} { incr k 2 }
        set p [lindex $ends [expr {$k + 1}]]
        lappend out [expr {$p in $::phones ? [lsearch -exact $::phones $p] : 0}]
    }
    return $out
}

set fe [feature initialize {mel} -samplerate 16000]
proc features {wav} {
    feature reset $::fe
    set c [collect initialize -coeffs 13]
    collect $c [feature $::fe [wave read $wav]] -flush
}
proc rowsOf {x} { lindex [mx puts $x] 0 }

# Utterances: name, words, duration stretch.
set train {}; set test {}
for {set i 0} {$i < $opt(-train) + $opt(-test)} {incr i} {
    set u [list u$i [digitString] [format %.2f [expr {0.85 + 0.35 * [rand01]}]]]
    if {$i < $opt(-train)} { lappend train {*}$u } else { lappend test {*}$u }
}
synthesise [concat $train $test]

# Training frames, normalised by the training mean and spread.
set rows {}; set classes {}
foreach {name words -} $train {
    set x [rowsOf [features [file join $dir $name.wav]]]
    lappend rows {*}$x
    lappend classes {*}[frameLabels [file join $dir $name.lab] [llength $x]]
}
set dim [llength [lindex $rows 0]]
set mean [lrepeat $dim 0.0]; set sq [lrepeat $dim 0.0]
foreach r $rows {
    set mean [lmap m $mean v $r {expr {$m + $v}}]
    set sq [lmap s $sq v $r {expr {$s + $v * $v}}]
}
set n [llength $rows]
set mean [lmap m $mean {expr {$m / $n}}]
set scale [lmap s $sq m $mean {expr {1.0 / sqrt(max($s / $n - $m * $m, 1e-6))}}]
proc normalise {rows} {
    lmap r $rows { lmap v $r m $::mean s $::scale {expr {($v - $m) * $s}} }
}
# The same on a feature matrix, in the matrix package: x * scale - mean * scale.
set scaleRow [list [list $scale]]
set biasRow [list [list [lmap m $mean s $scale {expr {-$m * $s}}]]]
proc normalised {x} {
    set r [expr {int([lindex [mx puts [mx dim $x -row]] 0 0])}]
    mx add [mx scale col $x $::scaleRow norm] [mx prod [mx ones $r 1 normOnes] $::biasRow normBias] norm
}

# Multi-target training file: count, one active target, then per frame its
# class, the target value and the inputs.
set mvec [file join $dir train.mvec]
set f [open $mvec wb]
puts -nonewline $f [binary format ii $n 1]
foreach r [normalise $rows] c $classes { puts -nonewline $f [binary format iir* $c 1065353216 $r] }
close $f
set C [llength $phones]
exec [file join [file dirname [info nameofexecutable]] tremid] -a 3 $dim $opt(-hidden) $C -r 0.05 -t 1e9 -sn 1 -sv 1 \
    -i $opt(-iters) -f [file join $dir net] $opt(-iters) $mvec 2>@1
set net [nnet optload [file join $dir net.$opt(-iters)]]

# Recogniser: words bound to the outputs, digits between optional pauses.
set names [recognizer describe $phones]
set prons {{.pau pau}}
foreach {w p} $lexicon { lappend prons [list $w $p] }
set words [word context [word create $prons] $names]
set digits [join [dict keys $lexicon] " | "]
set grammar [grammar build [list [list digits "\$d = $digits; \[.pau\] < \$d \[.pau\] >"]]]
set search [search create $grammar $words $names]
set pool [backtrace create 1000 1000]

set errors 0; set total 0
foreach {name ref -} $test {
    search reset $search
    backtrace reset $pool
    set post [nnet x $net [normalised [features [file join $dir $name.wav]]]]
    search update $search $post $pool
    set hyp {}
    foreach w [lindex [search getbest $search $pool] 1] {
        if {[lindex $w 2] ne ".pau"} { lappend hyp [lindex $w 2] }
    }
    lassign [brenlow $ref $hyp] r h
    puts [format "%-6s %s\n       %s" $name $r $h]
    foreach rc $r hc $h {
        if {$rc ne [string tolower $rc] || $hc ne [string tolower $hc] || [string match *#* $rc$hc]} { incr errors }
    }
    incr total [llength $ref]
}
puts [format "WER %.1f%% (%d words)" [expr {100.0 * $errors / $total}] $total]
