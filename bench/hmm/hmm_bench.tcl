# tclsh hmm_bench.tcl workdir
# Trains the HMM digits recogniser (the example), then times both decoders
# on the held-out strings as multiples of real time: the hierarchical search
# on the features (also with a triphone table), and the word-loop decoder
# on probability frames of the same length (one column per pool mixture);
# then pocketsphinx_continuous on the same waves joined into one file, with
# a digits grammar.
set work [file normalize [lindex $argv 0]]
set here [file dirname [file normalize [info script]]]
set argv [list -train 120 -test 60 -passes 8 -keepwaves 1 -dir $work]
source [file join $here .. .. examples hmmdigits hmmdigits.tcl]
package require Decoder

# Ours, the search alone: features first.
set feats {}
set frames 0
foreach {file said} $test {
    set f [features $file]
    incr frames [lindex [mx dim $f] 0]
    lappend feats $f $said
}
set audio [expr {$frames * 0.010}]
set errors 0
set t0 [clock microseconds]
foreach {f said} $feats { incr errors [lindex [recognise $s $f $said] 1] }
set tSevrin [expr {([clock microseconds] - $t0) / 1e6}]
set nwords 0
foreach {f said} $feats { incr nwords [llength $said] }

# The search again with cross-word contexts: a triphone table naming each
# phone's own model for every pair of neighbours, so the answers stay and
# only the network's per-context copies cost time.
set f [open $work/digits.tri w]
set phones [concat sil $digits]
foreach l [concat $phones .pau] { foreach c $phones { foreach r [concat $phones .pau] { puts $f "$l-$c+$r $c" } } }
close $f
set st [sevrin grammar $g $w -triphone [triphone load $work/digits.tri]]
sevrin set $st $pool $list
sevrin configure $st -beam 400 -shortpen 0.05
set triErrors 0
set t0 [clock microseconds]
foreach {f said} $feats { incr triErrors [lindex [recognise $st $f $said] 1] }
set tTriphone [expr {([clock microseconds] - $t0) / 1e6}]

# The decoder: probability frames of the same count, one column per mixture.
set mixtures 0
foreach m $models {
    incr mixtures [expr {$m eq "sil" ? 3 : $opt(-states)}]
}
set d [decoder build $list $w]
decoder configure $d -statebeam 400 -shortpen 0.05
set probs {}
foreach {f said} $feats { lappend probs [mx random [lindex [mx dim $f] 0] $mixtures] }
set t0 [clock microseconds]
foreach p $probs {
    decoder reset $d
    decoder update $d $p
    catch {decoder getbest $d}
}
set tDecoder [expr {([clock microseconds] - $t0) / 1e6}]

# The peer: the same waves in one file, one run, a digits grammar.
set model /usr/share/pocketsphinx/model/en-us
set peer "n/a (pocketsphinx_continuous or its model missing)"
if {[auto_execok pocketsphinx_continuous] ne "" && [file exists $model/en-us]} {
    set f [open $work/digits.jsgf w]
    puts $f "#JSGF V1.0;\ngrammar digits;\npublic <s> = ( [join $digits { | }] )+ ;"
    close $f
    set waves {}
    foreach {file said} $test { lappend waves [file rootname $file].wav }
    exec sox {*}$waves $work/all.wav
    set peerAudio [exec soxi -D $work/all.wav]
    set t0 [clock microseconds]
    exec pocketsphinx_continuous -infile $work/all.wav -jsgf $work/digits.jsgf -hmm $model/en-us \
        -dict $model/cmudict-en-us.dict -samprate 16000 2>/dev/null
    set tPeer [expr {([clock microseconds] - $t0) / 1e6}]
    set peer [format "%.1fx real time on %.1f s of audio (model load included)" [expr {$peerAudio / $tPeer}] $peerAudio]
}

puts [format "audio: %.1f s in %d strings" $audio [expr {[llength $feats] / 2}]]
puts [format "sevrin search (features in): %.1fx real time, WER %.1f%%" [expr {$audio / $tSevrin}] \
          [expr {100.0 * $errors / $nwords}]]
puts [format "sevrin search with a triphone table: %.1fx real time, WER %.1f%%" [expr {$audio / $tTriphone}] \
          [expr {100.0 * $triErrors / $nwords}]]
puts [format "word-loop decoder (probability frames in): %.1fx real time" [expr {$audio / $tDecoder}]]
puts "pocketsphinx_continuous: $peer"
