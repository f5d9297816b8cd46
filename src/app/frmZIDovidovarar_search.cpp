// The "Search" tab: searching the catalogue and clearing the result.
#include "app/MessageBox.h"
#include "app/frmZIDovidovarar.h"
#include "catalogue/TextForms.h"
#include "db/CDatabase.h"
#include "search/CatalogueSearch.h"
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

struct frmZIDovidovarar::SearchPart
{
    SearchResultModel *model = nullptr; // the rows of lvwFileSearch, owned by the window
};

namespace {

const QString kSearchCaption = QStringLiteral("Quillary - File Search in progress...");
const QString kNothingFound = QStringLiteral("Files with search criteria not found.");

QString filesFound(qint64 count)
{
    return QStringLiteral("Files Found: ") + QString::number(count);
}

// Why the search failed, in the words the save uses for the same faults of the catalogue.
QString searchFailedMessage(const CDatabaseError &error)
{
    return QStringLiteral("The catalogue could not be searched.\r\n") +
           DescribeCatalogueError(error, modFunction::DefaultDatabasePath(), CatalogueTask::Reading);
}

// What the label shows of a name: only that part is decoded (a name may be megabytes long).
QString shownText(std::string_view text)
{
    return TextForms::shownUtf8(text);
}

} // namespace

void frmZIDovidovarar::initSearchPart()
{
    m_search = std::make_shared<SearchPart>();
    m_search->model = new SearchResultModel(this);
    lvwFileSearch->setModel(m_search->model);
    display().watchModel(m_search->model);
}

void frmZIDovidovarar::cmdSearch_Click()
{
    if (m_blnBusy)
        return;
    m_blnBusy = true;
    cmdSearch->setEnabled(false);
    setWindowTitle(kSearchCaption);

    if (modFunction::DefaultDatabasePath().isEmpty()) {
        // The tab keeps its previous result, and the pointer never changes.
        m_display.flush();
        quillary::ShowMessage(this, modConstant::DatabaseMissingMessage());
        setWindowTitle(modConstant::kAppTitle);
        m_blnBusy = false;
        cmdSearch->setEnabled(true);
        return;
    }

    setHourglass(true);
    SearchResultModel *model = m_search->model;
    auto yieldNow = [this] {
        m_display.yield();
        if (const auto &hook = TestSeams::AfterSearchYield())
            hook();
    };
    CDatabaseError failure;
    bool nothingFound = false;
    {
        CDatabase db(modFunction::DefaultDatabasePath());
        CatalogueSearch search(db.IsOpen() ? db.Handle() : nullptr);
        const QString phrase = SearchPhrase::TrimBlanks(txtSearchList->text());
        if (!db.IsOpen()) {
            failure = db.LastError();
        } else if (!search.find(phrase)) {
            failure = search.error();
        } else if (search.count() == 0) {
            nothingFound = true;
        } else {
            // The count is known before the first row is read: the bar's range is set once.
            const qint64 total = search.count();
            m_display.setBarRange(pgbrFileSearch, 0, total);
            if (model->heldRows() > 0)
                model->clear();
            model->reserve(total);
            model->setGrowing(true);
            // The labels and the bar reach the screen only at a yield, so they are given their
            // values there: the same picture as setting them for every row, at a fraction of the cost.
            auto showRow = [&](qint64 n, const QString &fileName) {
                m_display.setBarValue(pgbrFileSearch, n);
                m_display.setText(lblFileSearchMsg, fileName);
                m_display.setText(lblFileSerached, filesFound(n));
            };
            qint64 listed = 0;
            qint64 lastYield = 1;
            for (qint64 n = 1; n <= total; ++n) {
                if (!search.next()) {
                    failure = search.error();
                    break;
                }
                model->appendRow(n, {search.field(0), search.field(1), search.field(2), search.field(3),
                                     search.field(4), search.field(5)});
                listed = n;
                if (n - lastYield == 50) {
                    showRow(n, shownText(search.field(ListColumns::FileName)));
                    yieldNow();
                    lastYield = n;
                }
            }
            model->setGrowing(false);
            if (!failure.isSet()) {
                showRow(listed, shownText(search.field(ListColumns::FileName)));
                yieldNow();
            } else if (listed > 0) {
                // The failed read left no current row: the last name listed is the list's own.
                showRow(listed, model->heldRows() > 0
                                    ? model->text(model->heldRows() - 1, ListColumns::FileName)
                                    : QString());
            }
        }
    }

    if (nothingFound) {
        setHourglass(false);
        m_display.setText(lblFileSearchMsg, QString());
        if (model->heldRows() > 0)
            model->clear();
        m_display.setBarValue(pgbrFileSearch, 0);
        m_display.setText(lblFileSerached, filesFound(0));
        m_display.flush();
        quillary::ShowMessage(this, kNothingFound);
    } else if (failure.isSet()) {
        // Rows listed before the failure stay; the window returns to idle as after a search.
        setHourglass(false);
        m_display.flush();
        quillary::ShowMessage(this, searchFailedMessage(failure));
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
