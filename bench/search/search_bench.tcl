# tclsh search_bench.tcl workdir
# Trains the digits recogniser (the example), then times recognition of the
# held-out strings: the search alone and features + network + search, as
# multiples of real time; then pocketsphinx_batch on the same waves with a
# digits grammar. Prints both word error rates.
set work [file normalize [lindex $argv 0]]
set here [file dirname [file normalize [info script]]]
set argv [list -train 150 -test 100 -iters 12 -dir $work]
source [file join $here .. .. examples digits digits.tcl]

proc wer {pairs} {
    set errors 0; set total 0
    foreach {ref hyp} $pairs {
        lassign [brenlow $ref $hyp] r h
        foreach rc $r hc $h {
            if {$rc ne [string tolower $rc] || $hc ne [string tolower $hc] || [string match *#* $rc$hc]} { incr errors }
        }
        incr total [llength $ref]
    }
    expr {100.0 * $errors / $total}
}

# Ours: posteriors first, so that the search can be timed alone.
set frames 0; set posts {}
set t0 [clock microseconds]
foreach {name ref -} $test {
    set x [normalised [features [file join $dir $name.wav]]]
    incr frames [expr {int([lindex [mx puts [mx dim $x -row]] 0 0])}]
    lappend posts [nnet x $net $x]
}
set tFront [expr {[clock microseconds] - $t0}]
set pairs {}
set t0 [clock microseconds]
foreach {name ref -} $test post $posts {
    search reset $search
    backtrace reset $pool
    search update $search $post $pool
    set hyp {}
    foreach w [lindex [search getbest $search $pool] 1] { if {[lindex $w 2] ne ".pau"} { lappend hyp [lindex $w 2] } }
    lappend pairs $ref $hyp
}
set tSearch [expr {[clock microseconds] - $t0}]
set audio [expr {$frames * 0.010}]
set ourWer [wer $pairs]

# Peer: the same waves, one batch run, a digits grammar.
set model /usr/share/pocketsphinx/model/en-us
set peer "n/a"
set ratio "no peer: pocketsphinx_batch or its en-us model is missing"
if {[auto_execok pocketsphinx_batch] ne "" && [file exists $model/en-us]} {
    set f [open $work/digits.jsgf w]
    puts $f "#JSGF V1.0;\ngrammar digits;\npublic <s> = ( [join [dict keys $lexicon] { | }] )+ ;"
    close $f
    set f [open $work/test.ctl w]
    foreach {name - -} $test { puts $f $name }
    close $f
    set t0 [clock microseconds]
    exec pocketsphinx_batch -adcin yes -cepdir $work -cepext .wav -adchdr 44 -ctl $work/test.ctl \
        -jsgf $work/digits.jsgf -hmm $model/en-us -dict $model/cmudict-en-us.dict -hyp $work/peer.hyp 2>/dev/null
    set tPeer [expr {[clock microseconds] - $t0}]
    set f [open $work/peer.hyp]; set lines [split [string trim [read $f]] \n]; close $f
    set ppairs {}
    foreach {name ref -} $test line $lines {
        regsub {\s*\(.*\)\s*$} $line "" hyp
        lappend ppairs $ref $hyp
    }
    set peer [format "%.1fx real time, WER %.1f%%" [expr {$audio / ($tPeer / 1e6)}] [wer $ppairs]]
    set ratio [format "ours (features + network + search) runs %.2f times as fast as pocketsphinx_batch; the search alone %.1f times" \
        [expr {double($tPeer) / ($tFront + $tSearch)}] [expr {double($tPeer) / $tSearch}]]
}
puts [format "audio: %.1f s in %d held-out strings" $audio [expr {[llength $test] / 3}]]
puts [format "ours, search alone: %.0fx real time" [expr {$audio / ($tSearch / 1e6)}]]
puts [format "ours, features + network + search: %.1fx real time, WER %.1f%%" \
    [expr {$audio / (($tFront + $tSearch) / 1e6)}] $ourWer]
puts "pocketsphinx_batch (whole decode, model load included): $peer"
puts $ratio
