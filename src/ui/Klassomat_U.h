#pragma once

#include <QPixmap>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class TNDK;

class TStringList;

namespace runs {
class Run;
class RunRecordWriter;
struct RecordedUser;
struct RunHeader;
struct Step;
} // namespace runs

namespace ui {
class LogList;
class PictureButton;
class RadioGroup;
class StatusBar;
} // namespace ui

// The main window: start context, search scope, designation form, the
// Execute button (which cancels while a run goes) and the run's log.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    // `programFolder` is where "Klassen.txt" is looked for: the executable's folder.
    explicit TForm1(const QString &programFolder);
    ~TForm1() override;

    void SetRunButtonFace(const QPixmap &glyph);
    void LoadClassList();
    [[nodiscard]] QString LookupClass(const QString &container) const;
    void RunAssignment();

    // Handlers.
    void EdContextChange();
    void BuContextClick();
    void buAusfuehrenClick();

    QLabel *Label1;
    QLineEdit *EdContext;
    ui::PictureButton *BuContext;
    QCheckBox *ChSub;
    ui::RadioGroup *raForm;
    ui::PictureButton *buAusfuehren;
    QFrame *PaFortschritt;
    QLabel *Label5;
    ui::LogList *ListBox1;
    ui::StatusBar *StatusBar1;
    QPixmap ImageList1[2]; // the execute picture and the three cancel frames

    QPixmap FGlyphCancel;
    QPixmap FGlyphExecute;
    bool FCancelRequested = false;
    QString FStartContext;
    QStringList FClassList;
    QString FClassListPath; // the file the class list was read from, for the run record
    QByteArray FClassListSha256;
    // Fills in the tree's server and attribute name for the run record; the
    // program sets it from the directory client.
    std::function<void(runs::RunHeader &header)> FDescribeTree;

protected:
    // A run handles window messages; closing the window meanwhile waits for
    // the run's end instead of tearing the window down under it.
    void closeEvent(QCloseEvent *event) override;

private:
    void FormCreate();
    void FormDestroy();
    void AddLogLine(const QString &line);
    void ScrollLogToEnd();
    void PlaceDialog(QWidget *dialog) const;
    void StartRun();
    [[nodiscard]] runs::RunHeader RecordHeader() const;
    // Stores the run's changes through the directory facade, one at a time.
    void StoreThroughFacade(const QList<runs::RecordedUser> &changes,
                            const std::function<bool(qsizetype, std::exception_ptr)> &answered);
    // Plans, records and writes the users found, one at a time, with the
    // designed pause; `counter`, `record` and `run` stay for the end of the run.
    void WriteUsers(const TStringList &results, qint32 &counter, std::unique_ptr<runs::RunRecordWriter> &record,
                    std::unique_ptr<runs::Run> &run);
    // A step the window does not take in its stride ends the run through its
    // failure path; `runId` names the run that settles an unconfirmed write.
    void FailUnlessHandled(const runs::Step &step, const QString &runId) const;
    [[nodiscard]] QString LogLine(const runs::Step &step) const;

    QString FProgramFolder;
    QString FRunSummary; // the last run's closing lines, for the desktop's notice
    bool FRunning = false;
    bool FCloseAfterRun = false;
};

extern TForm1 *Form1;
