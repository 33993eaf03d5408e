# Back-end cost per second of speech: our residual-LPC synthesis of the kal
# test voice against festival's kal diphone synthesis, on the same 30
# sentences, in one process.
#
# Every sentence goes through festival's front end once; its utterance is
# kept. The kal back end costs the whole pipeline minus the front end alone
# (every step but the waveform); ours is timed on the kept utterances.
# Times are wall-clock, best of 5 rounds.
package require tcltest 2
set here [file dirname [file normalize [info script]]]
set tests [file join $here .. .. Festival tests]
::tcltest::configure -tmpdir [pwd]
source [file join $tests helpers.tcl]
source [file join $tests testvoice.tcl]

set dir [file join [pwd] kaltest]/
file mkdir $dir
puts "building the test voice ..."
buildTestVoice $dir {
    "Hello there, how are you today?" "What a lovely day it is." "The cat sat on the mat."
    "Is it new to you?" "She reads every word of this sentence clearly." "Then it stops for breath."
}
initFromFiles $dir
festival "(Vekdbase.group 'kaltest \"${dir}kaltest.group\")"
festival "(load \"${dir}kaltest.scm\")"

set words {the a small quick voice speaks reads every word of this sentence clearly and then stops
    for breath before another short line begins}
expr {srand(11)}
set sentences {}
for {set i 0} {$i < 30} {incr i} {
    set s {}
    for {set j 0} {$j < 6 + $i % 5} {incr j} { lappend s [lindex $words [expr {int(rand() * [llength $words])}]] }
    lappend sentences [join $s]
}

proc timeAll {script} {
    set best Inf
    for {set r 0} {$r < 5} {incr r} {
        set t0 [clock microseconds]
        uplevel #0 $script
        set best [expr {min($best, [clock microseconds] - $t0)}]
    }
    expr {$best / 1e6}
}

festival {(voice_kal_diphone)}
set full "(begin [join [lmap s $sentences {format {(utt.synth (Utterance Text "%s"))} $s}]] nil)"
set kal [timeAll [list festival $full]]
set speech 0.0
# The text pipeline of the synthesiser up to its waveform step.
lisp {(define (bench_front text)
  (let ((utt (Utterance Text text)))
    (mapcar (lambda (m) (apply m (list utt)))
      (list Initialize Text Token_POS Token POS Phrasify Word Pauses Intonation PostLex Duration Int_Targets))
    utt))}
set keep "(set! bench_utts (list [join [lmap s $sentences {format {(bench_front "%s")} $s}]]))"
set front [timeAll [list lisp $keep]]
set ours [timeAll {lisp {(mapcar kaltest_synth bench_utts)}}]
set speech [festival {(apply + (mapcar (lambda (u) (item.feat (utt.relation.last u 'Segment) "end")) bench_utts))}]
set kalBack [expr {$kal - $front}]
puts [format "%d sentences, %.1f s of speech: front end %.3f s" [llength $sentences] $speech $front]
puts [format "back end: kal diphone %.3f s (RTF %.4f), ours %.3f s (RTF %.4f); ours / kal %.2f" \
    $kalBack [expr {$kalBack / $speech}] $ours [expr {$ours / $speech}] [expr {$ours / $kalBack}]]
