#include "dialogs/folderlistbox.h"

#include "ui/look.h"

#include <QDir>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

namespace velo
{

namespace
{

// Shifts each line right by its depth, which turns the flat list into a tree.
class IndentDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem indented = option;
        indented.rect.setLeft(option.rect.left() + indent(index));
        QStyledItemDelegate::paint(painter, indented, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(indent(index), 0);
    }

private:
    static int indent(const QModelIndex& index)
    {
        return index.data(FolderListBox::kDepthRole).toInt() * look::twipsToPixels(180);
    }
};

} // namespace

FolderListBox::FolderListBox(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new IndentDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        // A folder removed since the list was built just stays where it is.
        setPath(item->data(kPathRole).toString());
    });
}

bool FolderListBox::setPath(const QString& folder)
{
    const auto entries = folderEntries(folder);
    if (!entries)
        return false;

    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    clear();
    QListWidgetItem* openItem = nullptr;
    for (const FolderEntry& entry : *entries) {
        auto* item = new QListWidgetItem(entry.open ? openIcon : closedIcon, entry.label, this);
        item->setData(kPathRole, entry.path);
        item->setData(kDepthRole, entry.depth);
        item->setToolTip(QDir::toNativeSeparators(entry.path));
        if (entry.open)
            openItem = item;
    }
    // The open folder is the last open line; it starts highlighted.
    setCurrentItem(openItem);
    scrollToItem(openItem);

    const QString previous = openFolder_;
    openFolder_ = openItem->data(kPathRole).toString();
    if (openFolder_ != previous)
        emit pathChanged(openFolder_);
    return true;
}

} // namespace velo
