# The release the benchmarks share, sourced by bench/extract, bench/updater
# and bench/threads: ten real PE files from Debian's wine32 package, about
# 71 MiB. The names are fixed, so the data is the same wherever the package
# versions are. Needs die() from the sourcing script.
wine_dir=/usr/lib/i386-linux-gnu/wine/i386-windows
dlls=(wined3d.dll shell32.dll windowscodecs.dll kernelbase.dll msi.dll
  user32.dll ole32.dll comctl32.dll ntdll.dll gdi32.dll)
for dll in "${dlls[@]}"; do
  [[ -f $wine_dir/$dll ]] || die "$wine_dir/$dll is missing (wine32:i386); run scripts/setup"
done
