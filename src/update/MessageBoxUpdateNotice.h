#pragma once

#include "UpdateNotice.h"

class QWidget;

// The notice as an application-modal information box.
class MessageBoxUpdateNotice : public UpdateNotice
{
public:
    explicit MessageBoxUpdateNotice(QWidget* parent = nullptr);

    bool confirm(const QString& text, const QString& informativeText,
                 const QString& confirmLabel, const QString& closeLabel) override;

private:
    QWidget* m_parent;
};
