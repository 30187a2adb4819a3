#include "stats/ui/StatisticsChartView.h"

#include "platform/Log.h"
#include "platform/MessageBox.h"

#include <QAction>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

namespace {

ImageSavePrompt g_imagePrompt;

QString AskWithSaveDialog(QWidget* parent, const QString& defaultName)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    return QFileDialog::getSaveFileName(parent, QStringLiteral("保存图片"), QDir(folder).filePath(defaultName),
                                        QStringLiteral("PNG 图片 (*.png)"));
}

} // namespace

ImageSavePrompt SetImageSavePrompt(ImageSavePrompt prompt)
{
    ImageSavePrompt previous = std::move(g_imagePrompt);
    g_imagePrompt = std::move(prompt);
    return previous;
}

CStatisticsChartView::CStatisticsChartView(const QString& fileStem, QWidget* parent)
    : QChartView(parent), m_fileStem(fileStem), m_saveAction(new QAction(QStringLiteral("保存图片"), this))
{
    m_saveAction->setObjectName(QStringLiteral("saveImageAction"));
    setAccessibleName(QStringLiteral("访客统计图表"));
    setAccessibleDescription(QStringLiteral("右键可保存图片"));
    addAction(m_saveAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    setRenderHint(QPainter::Antialiasing);
    connect(m_saveAction, &QAction::triggered, this, &CStatisticsChartView::OnSaveImage);
}

bool CStatisticsChartView::SaveImage(const QString& path)
{
    if (grab().save(path, "PNG"))
        return true;
    qCWarning(LogStats) << "cannot write the chart image" << path;
    ShowMessageBox(QStringLiteral("图片保存失败:\n%1").arg(QDir::toNativeSeparators(path)), AppTitle(), EMsgIcon::Error,
                   EMsgButtons::Ok);
    return false;
}

void CStatisticsChartView::OnSaveImage()
{
    const QString name =
        QStringLiteral("%1-%2.png").arg(m_fileStem, QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
    QString path = g_imagePrompt ? g_imagePrompt(this, name) : AskWithSaveDialog(this, name);
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        path += QStringLiteral(".png");
    SaveImage(path);
}
