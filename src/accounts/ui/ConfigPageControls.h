#pragma once
// How the configuration page is laid out (CConfigDlg::BuildControls), its
// account picture, and the captions its groups and buttons switch between.
// Window's thread.
#include <QIcon>
#include <QString>

namespace ConfigCaption {
inline const QString kUserSettingsCaption = QStringLiteral("用户设置");
inline const QString kStartMonitoring = QStringLiteral("开始监视");
inline const QString kStopMonitoring = QStringLiteral("停止监视");
inline const QString kStartGreeting = QStringLiteral("开始自动打招呼");
inline const QString kStopGreeting = QStringLiteral("停止自动打招呼");

} // namespace ConfigCaption

// Our account picture: a head and shoulders on a round badge.
QIcon AccountIcon();
