// What a CAD file would do to the board, shown before anything changes:
// each point it gives with its net, side and position, new or updated, and
// the points it no longer has (kept), narrowed by side, nets and parts.
#pragma once

#include "signature.h"

#include <QDialog>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QTableWidget;

class CadImportDialog : public QDialog
{
    Q_OBJECT

public:
    CadImportDialog(const sig::Signature &board, const QString &file, QWidget *parent = nullptr);

    // The board as the import leaves it, once the preview read the file.
    const sig::Signature &result() const { return m_result; }
    // The preview's rows: the points the file gives, then those it lacks.
    int previewRows() const;

private:
    void preview();

    sig::Signature m_board;
    sig::Signature m_result;
    QString m_file;
    QComboBox *m_side;
    QComboBox *m_units;
    QLineEdit *m_nets;
    QLineEdit *m_refdes;
    QTableWidget *m_table;
    QLabel *m_summary;
    QDialogButtonBox *m_buttons;
};
