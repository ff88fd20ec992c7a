# ns/op against n, one panel per workload, 8-byte keys.
# gnuplot -c bench/plot.gp DATA PNG COLUMNS
data = ARG1
columns = int(ARG3)
array workloads[6] = ["insert", "lookup", "floor (mostly misses)", "in-order scan (per key)", \
                      "range scan of 100 keys", "remove"]
set terminal pngcairo size 1200,760 font ",9"
set output ARG2
set multiplot layout 2,3 title "ns/op against n, 8-byte keys (lower is better)"
set logscale xy
set format x "10^{%L}"
set xrange [700:1.4e6]
set xtics (1000, 100000, 1000000)
set grid
set key top left font ",7" spacing 0.8 samplen 2
do for [i = 1:6] {
    set title workloads[i]
    if (i > 1) { unset key }
    plot for [c = 2:columns] data index (i - 1) using 1:c with linespoints pt 7 ps 0.6 \
        title columnheader(c)
}
unset multiplot
