"""Every GeoTIFF of a folder segmented with the same options, one scene per
worker process, into OUT_DIR/<name>.labels.tif. Run it again and the finished
scenes are skipped. With a scheduler address (tcp://host:8786) the scenes go
to that Dask cluster instead; its workers need to see the same paths.

    usage: python3 batch_folder.py FOLDER OUT_DIR [SCHEDULER]
"""

import glob
import os
import sys

import kavu


def main(folder, out_dir, scheduler=None):
    scenes = sorted(glob.glob(os.path.join(folder, "*.tif")))
    rows = kavu.batch(scenes, out_dir, client=scheduler, workers=2, tile=512)
    for row in rows:
        took = "" if row.seconds is None else f" in {row.seconds:.1f} s"
        print(f"{os.path.basename(row.scene)}: {row.status}{took}, {row.regions} regions "
              f"{row.error}")
    return 1 if any(row.status == "failed" for row in rows) else 0


# Worker processes start by importing this file again: the guard keeps each
# from starting a batch of its own (kavu.batch refuses to start without it).
if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
