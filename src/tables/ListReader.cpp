#include "tables/ListReader.h"

#include "platform/AbortScope.h"
#include "store/AdoRecordSet.h"

#include <QLoggingCategory>

#include <string_view>
#include <vector>

Q_LOGGING_CATEGORY(lcListReader, "mirel.history")

namespace {

constexpr qsizetype kFirstBlockRows = 100;
constexpr qsizetype kLargestBlockRows = 65536;

} // namespace

bool ReadListRows(CAdoConnection* connection, const QString& sql, const QList<int>& positions,
                  const std::function<void(std::shared_ptr<const CTextRows>)>& onBlock, const std::atomic<int>& stop)
{
    CAdoRecordSet recordSet(connection);
    if (!connection || !recordSet.Open(sql)) {
        qCWarning(lcListReader) << "history query could not be opened:" << sql.left(200);
        return false;
    }
    const int columns = int(positions.size());
    std::vector<QByteArray> scratch;
    std::vector<std::string_view> cells(static_cast<size_t>(columns));
    qsizetype blockRows = kFirstBlockRows;
    auto block = std::make_shared<CTextRows>(columns);
    while (!recordSet.IsEOF()) {
        if (stop.load(std::memory_order_relaxed) != 0 || AbortRequested())
            return false;
        recordSet.GetRowUtf8(positions, scratch, cells.data());
        block->AppendRowUtf8(cells.data());
        if (block->RowCount() >= blockRows) {
            block->Squeeze();
            onBlock(std::move(block));
            block = std::make_shared<CTextRows>(columns);
            blockRows = std::min(blockRows * 4, kLargestBlockRows);
        }
        recordSet.MoveNext();
    }
    if (block->RowCount() > 0) {
        block->Squeeze();
        onBlock(std::move(block));
    }
    recordSet.Close();
    return stop.load() == 0;
}
