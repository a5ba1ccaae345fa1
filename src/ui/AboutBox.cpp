#include "AboutBox.h"

#include "UpdateCheck.h"

#include <QCoreApplication>
#include <QMessageBox>

QString AboutBox::text(const QString& version, const QString& buildNumber)
{
    return QStringLiteral("Quillmere バージョン %1（ビルド\u00A0%2）\n\n"
                          "ファイルやフォルダを、日本語版 Windows で正しく開ける ZIP アーカイブにまとめます。")
        .arg(version.isEmpty() ? QStringLiteral("不明") : version, buildNumber);
}

void AboutBox::show(QWidget* window)
{
    QMessageBox box(window);
    box.setObjectName(QStringLiteral("aboutBox"));
    box.setWindowTitle(QStringLiteral("バージョン情報"));
    box.setIconPixmap(QIcon(QStringLiteral(":/icons/quillmere.svg")).pixmap(64, 64));
    box.setTextFormat(Qt::PlainText);
    box.setText(text(QCoreApplication::applicationVersion(), UpdateCheck::defaultBuildNumber()));
    box.addButton(QStringLiteral("閉じる"), QMessageBox::AcceptRole);
    box.exec();
}
