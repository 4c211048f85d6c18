// The OK/Cancel row of a dialog: buttons named id1 and id2, wired to accept and reject.
#pragma once

#include "CmdTarget.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

inline QDialogButtonBox* NewOkCancelButtons(QDialog* dialog)
{
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    box->button(QDialogButtonBox::Ok)->setObjectName(IdName(1));
    box->button(QDialogButtonBox::Cancel)->setObjectName(IdName(2));
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}
