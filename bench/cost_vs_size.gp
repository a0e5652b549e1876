# Draws the data file of `proc_bench --curve` as one panel per shape: median
# wall time per request against body size, before (the baseline cgi), after
# (the current cgi) and the floor of the same runs.
#
# gnuplot -e "data='curve.dat'; output='cost-vs-size.png'; before='rev'; after='rev'; runs='N'" \
#   cost_vs_size.gp
if (!exists("data") || !exists("output")) {
  print "cost_vs_size.gp: set data and output with -e"
  exit status 2
}
if (!exists("before")) before = "baseline"
if (!exists("after")) after = "current"
if (!exists("runs")) runs = "?"

shapes = system("awk '!/^#/ && !seen[$1]++ { printf \"%s \", $1 }' '" . data . "'")
count = words(shapes)
if (count == 0) {
  print "cost_vs_size.gp: no points in " . data
  exit status 1
}
columns = 4
rows = int((count + columns - 1) / columns)

set terminal pngcairo size 1600, 420 * rows + 60 font "sans,10" noenhanced
set output output
set datafile commentschars "#"
set key top left reverse Left samplen 2 spacing 1.1 box opaque
set grid ytics xtics lc rgb "#dddddd"
set xrange [0:64]
set xtics 0, 16, 64
set mxtics 2
set yrange [0:*]
set xlabel "body KiB"
set ylabel "ms per request"
set style line 1 lc rgb "#c0392b" lw 2 pt 7 ps 0.8
set style line 2 lc rgb "#1f6fb2" lw 2 pt 5 ps 0.8
set style line 3 lc rgb "#555555" lw 1.5 dt 2 pt 1 ps 0.6

point(s, which) = (strcol(1) eq s && strcol(3) eq which) ? $2 / 1024.0 : NaN

set multiplot layout rows, columns \
  title sprintf("Median wall time of one request, a fresh cgi process each (%s runs per point): before = %s, after = %s", runs, before, after) \
  font "sans,13"
do for [i = 1:count] {
  s = word(shapes, i)
  set title s font "sans,12"
  plot data using (point(s, "baseline")):4 with linespoints ls 1 title "before", \
       data using (point(s, "current")):4 with linespoints ls 2 title "after", \
       data using (point(s, "current")):6 with linespoints ls 3 title "floor"
}
unset multiplot
