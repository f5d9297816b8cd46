// The "Search" tab: searching the catalogue and clearing the result.
#include "app/MessageBox.h"
#include "app/frmZIDovidovarar.h"
#include "catalogue/TextForms.h"
#include "search/SearchCommand.h"
#include "search/SearchPhrase.h"
#include "search/SearchResultModel.h"
#include "settings/modConstant.h"
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QToolButton>
#include <QTreeView>

namespace {

const QString kSearchCaption = QStringLiteral("Quillary - File Search in progress...");
const QString kNothingFound = QStringLiteral("Files with search criteria not found.");

QString filesFound(qint64 count)
{
    return QStringLiteral("Files Found: ") + QString::number(count);
}

// What the label shows of a name: only that part is decoded (a name may be megabytes long).
QString shownText(std::string_view text)
{
    return TextForms::shownUtf8(text);
}

} // namespace

// Shows the search in the search tab: rows go to the list as they are read; the bar and the two labels
// reach the screen only at a yield, so they are given their values there (the same picture as setting
// them for every row, at a fraction of the cost).
struct frmZIDovidovarar::SearchPart : SearchObserver
{
    explicit SearchPart(frmZIDovidovarar &window) : w(window), model(new SearchResultModel(&window)) {}

    void RowsFound(qint64 count) override
    {
        // The count is known before the first row is read: the bar's range is set once.
        w.m_display.setBarRange(w.pgbrFileSearch, 0, count);
        if (model->heldRows() > 0)
            model->clear();
        model->reserve(count);
        model->setGrowing(true);
    }

    void RowRead(qint64 /*n*/, const std::array<std::string_view, ListColumns::kCount> &texts) override
    {
        model->appendRow(texts);
    }

    void Yield(qint64 n, std::string_view fileName) override
    {
        showRow(n, shownText(fileName));
        w.m_display.yield();
        if (const auto &hook = TestSeams::AfterSearchYield())
            hook();
    }

    void showRow(qint64 n, const QString &fileName)
    {
        w.m_display.setBarValue(w.pgbrFileSearch, n);
        w.m_display.setText(w.lblFileSearchMsg, fileName);
        w.m_display.setText(w.lblFileSerached, filesFound(n));
    }

    frmZIDovidovarar &w;
    SearchResultModel *model; // the rows of lvwFileSearch, owned by the window
};

void frmZIDovidovarar::initSearchPart()
{
    m_search = std::make_shared<SearchPart>(*this);
    lvwFileSearch->setModel(m_search->model);
    m_display.watchModel(m_search->model);
}

void frmZIDovidovarar::cmdSearch_Click()
{
    // The tab keeps its previous result when the catalogue is missing, and the pointer never changes.
    if (!beginCommand(cmdSearch, kSearchCaption) || refuseWithoutCatalogue(cmdSearch))
        return;

    setHourglass(true);
    SearchCommand search(*m_search);
    const auto outcome =
        search.Run(modFunction::DefaultDatabasePath(), SearchPhrase::TrimBlanks(txtSearchList->text()));
    SearchResultModel *model = m_search->model;
    model->setGrowing(false);
    if (outcome == SearchCommand::Outcome::NothingFound) {
        setHourglass(false);
        m_display.setText(lblFileSearchMsg, QString());
        if (model->heldRows() > 0)
            model->clear();
        m_display.setBarValue(pgbrFileSearch, 0);
        m_display.setText(lblFileSerached, filesFound(0));
        m_display.flush();
        quillary::ShowMessage(this, kNothingFound);
    } else if (outcome == SearchCommand::Outcome::Failed) {
        // Rows listed before the failure stay, the last of them shown; the window returns to idle as
        // after a search.
        if (search.RowsRead() > 0)
            m_search->showRow(search.RowsRead(), model->text(model->heldRows() - 1, ListColumns::FileName));
        setHourglass(false);
        m_display.flush();
        quillary::ShowMessage(this, QStringLiteral("The catalogue could not be searched.\r\n") +
                                        search.FailureText());
    }
    endCommand(cmdSearch);
}

void frmZIDovidovarar::cmdClearList_Click()
{
    SearchResultModel *model = m_search->model;
    if (model->heldRows() > 0)
        model->clear();
    m_display.setBarValue(pgbrFileSearch, 0);
    txtSearchList->setText(QString());
    m_display.setText(lblFileSearchMsg, QString());
    m_display.setText(lblFileSerached, filesFound(0));
    m_display.flush();
}
