# The chart of docs/performance.md: each figure's time over its anchor's, on a log scale.
# Called by scripts/bench.sh with data (index, "label", ratio per line) and out.
set terminal svg size 900,640 font "sans,11" background rgb "white"
set output out
set title "figure / anchor (same run; below 1 is faster than the anchor)"
set logscale x 10
set xrange [0.05:*]
stats data using 1 nooutput
set yrange [STATS_max + 0.6:-0.6]
set ytics nomirror
set grid xtics
set style fill solid 0.6
set key off
set arrow from 1, graph 0 to 1, graph 1 nohead dt 2 lc rgb "black"
set lmargin 40
plot data using (sqrt($3 * 0.05)):1:(0.05):($3):($1 - 0.35):($1 + 0.35):ytic(2) \
     with boxxyerror lc rgb "#3b6ea5", \
     data using ($3):1:(sprintf(" %.2f", $3)) with labels left font "sans,9"
