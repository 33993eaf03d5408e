# Builds a small residual-LPC test voice from recordings that festival's kal
# voice speaks: the pulse times of each recording give a laryngograph
# signal, our own analysis gives pitch marks, LSF frames and residuals, and a
# unit dictionary of diphones (mid-phone to mid-phone) indexes them.
#
#   buildTestVoice DIR SENTENCES  -> writes DIR/pm, DIR/lpc, DIR/unitdic,
#                                    DIR/kaltest.scm (the voice file)
# Needs helpers.tcl (writeWav, makeLx, readTrackTimes, lisp).

proc recordSentence {dir stem text} {
    lisp "(set! vrec (utt.synth (Utterance Text \"$text\")))"
    lisp "(utt.save.wave vrec \"${dir}$stem.wav\" 'riff)"
    lisp "(track.save (item.feat (utt.relation.first vrec 'TargetCoef) 'coefs) \"${dir}$stem.truth\" \"est\")"
    set segs [lindex [string map {( \{ ) \}} [festival {(format nil "%l" (mapcar (lambda (s)
        (list (item.name s) (item.feat s 'segment_start) (item.feat s 'end) (item.feat s 'ph_vc) (item.feat s 'ph_cvox)))
        (utt.relation.items vrec 'Segment)))}]] 0]
    set voiced {}
    foreach s $segs {
        lassign $s name a b vc cvox
        if {$vc eq "+" || $cvox eq "+"} { lappend voiced [list $a $b] }
    }
    set truth {}
    foreach t [readTrackTimes ${dir}$stem.truth] {
        foreach v $voiced {
            if {$t >= [lindex $v 0] && $t < [lindex $v 1]} { lappend truth $t; break }
        }
    }
    makeLx ${dir}$stem.lar $truth [expr {[lindex $segs end 2] + 0.05}]
    return $segs
}

# Diphone units of one recording, from the middle of a phone to the middle of
# the next; first is the index of its first unit.
proc unitLines {stem segs first} {
    set lines {}
    set n [expr {[llength $segs] - 1}]
    for {set i 0} {$i < $n} {incr i} {
        lassign [lindex $segs $i] a as ae
        lassign [lindex $segs [expr {$i + 1}]] b bs be
        set L [expr {$i == 0 ? -1 : $first + $i - 1}]
        set R [expr {$i == $n - 1 ? -1 : $first + $i + 1}]
        lappend lines [format "%s-%s %s %d %d F F %.3f %s %.3f %s %.3f" $a $b $stem $L $R \
            [expr {500.0 * ($as + $ae)}] $a [expr {1000.0 * $ae}] $b [expr {500.0 * ($bs + $be)}]]
    }
    return $lines
}

proc buildTestVoice {dir sentences} {
    file mkdir ${dir}pm ${dir}lpc
    festival {(voice_kal_diphone)}
    set k 0
    set files {}
    set unitdic {}
    foreach text $sentences {
        set stem [format rec_%03d [incr k]]
        set segs [recordSentence $dir $stem $text]
        lappend files "\"$stem.wav\""
        lappend unitdic {*}[unitLines $stem $segs [llength $unitdic]]
    }
    set f [open ${dir}unitdic w]
    puts $f "; diphone units of the kal test voice"
    puts $f [join $unitdic \n]
    close $f
    lisp "(VekresLPC.pmark_analysis '((infile_list ([join $files])) (lx_path \"$dir\") (sp_path \"$dir\")
        (out_path \"${dir}pm/\") (guess_F0 100) (F0_range_factor 2) (dlx_search_factor 0.2) (Vbias 1)
        (lpc_order 16) (shift_search_range 0) (shift_guess 0)
        (pre_filt1 ((1 -1) (1 -0.99))) (vuv_filt ((0.1) (1 -0.9))) (diff_filt ((0.5 0 -0.5) (1)))))"
    lisp "(VekresLPC.lpc_analysis '((infile_list ([join $files])) (pm_path \"${dir}pm/\") (sp_path \"$dir\")
        (out_path \"${dir}lpc/\") (lpc_order 16) (pre_emphasis 0.96) (lpc_anl_frame_len 3)
        (T0_UV_thresh 0.02) (T0_UV_pm 0.01) (run_quietly 1) (dump_intermediate_files 0) (res_format riff)))"
    # The voice file: the database from the group file, synthesis defaults,
    # and a fallback for diphones the recordings lack.
    set f [open ${dir}kaltest.scm w]
    puts $f "(Vekdbase.init '((dbname kaltest) (groupfile \"${dir}kaltest.group\") (access_mode \"direct\")))
(VekresLPC.init '((F0_default 100)))
(define (Vek_di_alt l r)
  (let ((i 0) (n (Vekdbase.Nunits)) (found nil))
    (while (and (not found) (< i n))
      (if (string-matches (cadr (assoc 'name (Vekdbase.lookup_info i))) (string-append l \"-.*\"))
          (set! found i))
      (set! i (+ 1 i)))
    (if found found 0)))
(define (kaltest_synth utt)
  (Vekdbase.unitsel_diphone utt)
  (VekresLPC.synth utt))"
    close $f
    return [llength $unitdic]
}

# The database built from the separate files of DIR.
proc initFromFiles {dir args} {
    lisp "(Vekdbase.init '((dbname kaltest) (unitdic_file \"${dir}unitdic\") (base_dir \"$dir\")
        (data_type \"resLPC\") (lpc_order 16) (phoneset \"radio\") (access_mode \"dynamic\") (sig_band 0.02) $args))"
}
