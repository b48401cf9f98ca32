// Where the user picks a file: the one seam for every file question of the
// window and its docks. The window holds one and hands it to every dock;
// tests replace it with one that answers without a dialog.
#pragma once

#include <QString>

class QWidget;

class FileChooser
{
public:
    struct Question
    {
        QWidget *parent = nullptr;
        QString caption;
        QString directory; // or the proposed file name
        QString filter; // as the file dialog takes it: "CSV (*.csv);;All files (*)"
        // The name exactly as typed, without the type's extension added, and
        // the filters as given (the profile dialogs keep their fixed form).
        bool asTyped = false;
    };

    virtual ~FileChooser() = default;
    // An empty name means the user cancelled. `selectedFilter` (may be null)
    // receives the type picked. A name typed without an extension gets the
    // picked type's, so that the file shows under that type when opened.
    virtual QString openFileName(const Question &question);
    virtual QString saveFileName(const Question &question, QString *selectedFilter = nullptr);
};

// The name with the first extension of the filter's type ("Signature files
// (*.json)" gives ".json") when it has none; as it is for "All files (*)".
QString withTypeExtension(const QString &name, const QString &filter);

// Answers every question with one name; for tests and scripted figures.
class FixedFileChooser : public FileChooser
{
public:
    explicit FixedFileChooser(QString name)
        : name(std::move(name))
    {
    }
    QString openFileName(const Question &) override { return name; }
    QString saveFileName(const Question &, QString *) override { return name; }

    QString name;
};
