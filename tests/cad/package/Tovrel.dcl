// Tovrel batch plot: dialog of the sample package
tovrel_plot : dialog {
  label = "Tovrel";
  : text { label = "Batch plot"; }
  ok_cancel;
}
