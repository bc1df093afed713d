"""The README's picture of the Segment raster dialog: QGIS's own Processing
dialog for kavu:segment, with the scene loaded, grabbed into a PNG. Needs a
display; without one, run it under xvfb-run:

    xvfb-run -a -s "-screen 0 1280x900x24" python3 qgis/screenshot_dialog.py SCENE OUT.png
"""

import os
import sys

from qgis.core import QgsApplication, QgsProject, QgsRasterLayer
from qgis.PyQt.QtCore import QTimer


def main(scene, out):
    app = QgsApplication([], True)
    app.initQgis()
    sys.path.insert(0, os.path.join(QgsApplication.pkgDataPath(), "python", "plugins"))
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from processing.core.Processing import Processing
    from processing.gui.AlgorithmDialog import AlgorithmDialog

    from kavu_processing.provider import KavuProvider

    Processing.initialize()
    provider = KavuProvider()
    QgsApplication.processingRegistry().addProvider(provider)
    QgsProject.instance().addMapLayer(QgsRasterLayer(scene, os.path.basename(scene)))
    alg = QgsApplication.processingRegistry().createAlgorithmById("kavu:segment")
    dialog = AlgorithmDialog(alg)
    dialog.resize(900, 760)
    dialog.show()

    def grab():
        dialog.grab().save(out)
        app.exit(0)

    QTimer.singleShot(1500, grab)
    app.exec_()
    dialog.close()
    app.exitQgis()


if __name__ == "__main__":
    main(*sys.argv[1:])
