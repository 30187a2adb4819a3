#pragma once
// The one way any part of the program asks the owner something. The UI
// installs a handler that shows a QMessageBox on the window's thread (a
// worker's call waits for the answer); tests install a recorder, so no test
// ever blocks on a box. Without a handler the text goes to stderr.
#include <QString>

#include <functional>

enum class EMsgIcon
{
    None,
    Information,
    Exclamation,
    Question,
    Error
};

enum class EMsgButtons
{
    Ok,
    YesNo
};

// Results, numbered as the platform's dialogs number them.
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

using MessageBoxHandler =
    std::function<int(const QString& text, const QString& caption, EMsgIcon icon, EMsgButtons buttons)>;

int ShowMessageBox(const QString& text, const QString& caption, EMsgIcon icon = EMsgIcon::None,
                   EMsgButtons buttons = EMsgButtons::Ok);
// Returns the handler that was installed before.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Captions: the application title for boxes of the window's thread, "Lumo助手" for worker flows.
QString AppTitle();
QString WorkerCaption();
