#include "frmmain.h"

#include <QMessageBox>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>

void frmMain::mnuHelpAbout_Click()
{
    QMessageBox box(this);
    box.setObjectName(QStringLiteral("frmAbout"));
    box.setWindowTitle(tr("About Velmaric"));
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.setTextFormat(Qt::RichText);
    box.setText(tr("<h3>Velmaric %1</h3>"
                   "<p>A web browser and network and media tools in one window.</p>"
                   "<p>Qt %2<br>Qt WebEngine %3 (Chromium %4)</p>"
                   "<p>Licensed under the GNU General Public License, version 3 or later.</p>")
                    .arg(QStringLiteral(VELMARIC_VERSION), QString::fromLatin1(qVersion()),
                         QString::fromLatin1(qWebEngineVersion()),
                         QString::fromLatin1(qWebEngineChromiumVersion())));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}
