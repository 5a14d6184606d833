"""scipy.signal.welch on the arrays bench_spectrum wrote, with its parameters.

welch_reference.py VALUES ROWS RATE LENGTH OUT: VALUES holds six columns of
ROWS little-endian int16 each; prints the best of three wall times of the six
computations alone (seconds) and writes the six densities as float64 to OUT.
The columns are handed over as float64: given int16, welch computes in single
precision (its output type is the input's combined with complex64), which
agrees with a double-precision computation to about 1e-6 only.
"""
import sys
import time

import numpy as np
from scipy.signal import welch

values, rows, rate, length, out = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
columns = np.fromfile(values, dtype='<i2').reshape(6, rows).astype(np.float64)
best = float('inf')
for _ in range(3):
    start = time.perf_counter()
    densities = [welch(c, fs=rate, window='hann', nperseg=length)[1] for c in columns]
    best = min(best, time.perf_counter() - start)
np.concatenate(densities).astype('<f8').tofile(out)
print(best)
