#pragma once
// One chart of the statistics page. Its context menu has "保存图片", which
// saves what the view shows as a PNG file the owner names. Window's thread.
#include <QChartView>

#include <functional>

// Asks for the PNG file to write; empty means the owner cancelled. Tests
// replace it so no dialog blocks.
using ImageSavePrompt = std::function<QString(QWidget* parent, const QString& defaultName)>;
// Returns the prompt installed before; an empty function selects the save dialog.
ImageSavePrompt SetImageSavePrompt(ImageSavePrompt prompt);

class CStatisticsChartView : public QChartView
{
    Q_OBJECT
public:
    explicit CStatisticsChartView(const QString& fileStem, QWidget* parent = nullptr);

    // Writes the view as PNG; false (logged, and told to the owner) when it cannot.
    bool SaveImage(const QString& path);
    QAction* SaveAction() const { return m_saveAction; }

private:
    void OnSaveImage();

    QString m_fileStem;
    QAction* m_saveAction;
};
