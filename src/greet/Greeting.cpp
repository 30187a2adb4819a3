#include "greet/Greeting.h"

#include <QUuid>

#include <cstdio>

namespace {

const QString kUserName = QStringLiteral("[username]");
const QString kRandomCode = QStringLiteral("[randomcode]");

} // namespace

QString ExpandGreeting(const QString& tmpl, const QString& visitor)
{
    // QString::replace works left to right on non-overlapping matches and
    // does not rescan what it inserted.
    QString text = tmpl;
    text.replace(kUserName, visitor, Qt::CaseSensitive);
    const QString code = MakeRandomCode();
    text.replace(kRandomCode, code, Qt::CaseSensitive);
    return text;
}

QString MakeRandomCode()
{
    // A buffer per call: the code may be made on more than one thread.
    char buffer[64] = {};
    const QUuid id = QUuid::createUuid();
    std::snprintf(buffer, sizeof buffer, "%08X%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X", unsigned(id.data1),
                  unsigned(id.data2), unsigned(id.data3), unsigned(id.data4[0]), unsigned(id.data4[1]),
                  unsigned(id.data4[2]), unsigned(id.data4[3]), unsigned(id.data4[4]), unsigned(id.data4[5]),
                  unsigned(id.data4[6]), unsigned(id.data4[7]));
    return QString::fromLatin1(buffer);
}

QString DefaultGreeting()
{
    return QStringLiteral("亲爱的 [username],欢迎光临！随便看看哦，有什么需要帮忙的随时招呼我！[randomcode]");
}
