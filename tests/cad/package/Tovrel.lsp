;; Tovrel batch plot: command line entry of the sample package
(defun c:TPLOT ()
  (princ "\nTovrel batch plot")
  (princ)
)
(princ "\nTovrel loaded, type TPLOT.")
(princ)
