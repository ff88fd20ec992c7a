# SPDX-License-Identifier: MIT
# ns/op against n, one panel per workload, 8-byte keys.
# gnuplot -c bench/plot.gp DATA PNG COLUMNS
data = ARG1
columns = int(ARG3)
array workloads[13] = ["insert", "insert, records just written", "lookup", \
                       "lookup, Zipf-distributed keys", "floor (mostly misses)", \
                       "floor, Zipf-distributed misses", "lookup in batches of 32 (absl: a call per key)", \
                       "lookup, Zipf, in batches of 32", "floor in batches of 32", \
                       "floor, Zipf, in batches of 32", "in-order scan (per key)", \
                       "range scan of 100 keys", "remove"]
# Indexed colours keep the file small.
set terminal png size 1100,1300 font "DejaVuSans,8" noenhanced
set output ARG2
# tarn bold red (comparator mode pink, C++ interface dark red), each peer its own colour.
set style line 1 lc rgb "#d62728" lw 3 pt 7 ps 0.8
set style line 2 lc rgb "#f4a0a0" lw 2 pt 6 ps 0.8
set style line 3 lc rgb "#8b0000" lw 2 pt 4 ps 0.8
set style line 4 lc rgb "#1f77b4" lw 1 pt 7 ps 0.5
set style line 5 lc rgb "#ff7f0e" lw 1 pt 7 ps 0.5
set style line 6 lc rgb "#2ca02c" lw 1 pt 7 ps 0.5
set style line 7 lc rgb "#9467bd" lw 1 pt 7 ps 0.5
set style line 8 lc rgb "#8c564b" lw 1 pt 7 ps 0.5
set style line 9 lc rgb "#7f7f7f" lw 1 pt 7 ps 0.5
set style line 10 lc rgb "#17becf" lw 1 pt 7 ps 0.5
set multiplot layout 5,3 title "ns/op against n, 8-byte keys (log scales, lower is better)"
set logscale xy
set xrange [700:1.4e6]
set xtics ("1e3" 1000, "1e5" 100000, "1e6" 1000000)
set grid
set key top left spacing 0.9 samplen 2
do for [i = 1:13] {
    set title workloads[i]
    if (i > 1) { unset key }
    plot for [c = 2:columns] data index (i - 1) using 1:c with linespoints ls (c - 1) \
        title columnheader(c)
}
unset multiplot
