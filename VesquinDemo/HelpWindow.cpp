#include "HelpWindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QHelpSearchResultWidget>
#include <QSplitter>
#include <QStandardPaths>
#include <QTabWidget>
#include <QVBoxLayout>

#include "modCommon.h"

namespace {

// The search index lives beside the collection file. When the program's
// folder cannot be written (an installed program), the window works on a
// collection of the user's own that registers the same compiled book.
QString WritableCollection(const QString& collection_file, QString* error) {
  const QFileInfo info(collection_file);
  if (QFileInfo(info.absolutePath()).isWritable()) return collection_file;
  return HelpWindow::UserCollection(collection_file, error);
}

}  // namespace

QString HelpWindow::UserCollection(const QString& collection_file, QString* error) {
  const QFileInfo info(collection_file);
  QHelpEngineCore original(collection_file);
  original.setReadOnly(true);
  if (!original.setupData()) {
    *error = QStringLiteral("The help file %1 cannot be opened: %2").arg(collection_file, original.error());
    return {};
  }
  const QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/help");
  QDir().mkpath(dir);
  const QString copy = dir + QLatin1Char('/') + info.fileName();
  QHelpEngineCore user(copy);
  user.setReadOnly(false);  // engines only read their collection unless told otherwise
  if (!user.setupData()) {
    *error = QStringLiteral("The help file %1 cannot be opened: %2").arg(copy, user.error());
    return {};
  }
  for (const QString& ns : original.registeredDocumentations()) {
    const QString book = original.documentationFileName(ns);
    if (user.registeredDocumentations().contains(ns)) {
      if (user.documentationFileName(ns) == book) continue;
      user.unregisterDocumentation(ns);
    }
    if (!user.registerDocumentation(book)) {
      *error = QStringLiteral("The help book %1 cannot be registered: %2").arg(book, user.error());
      return {};
    }
  }
  return copy;
}

HelpBrowser::HelpBrowser(QHelpEngine* engine, QWidget* parent) : QTextBrowser(parent), engine_(engine) {
  setOpenExternalLinks(false);
  setOpenLinks(true);
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
  if (name.scheme() == QLatin1String("qthelp")) return QVariant(engine_->fileData(name));
  return QTextBrowser::loadResource(type, name);
}

HelpWindow* HelpWindow::Open(const QString& collection_file, QString* error) {
  QString ignored;
  if (!error) error = &ignored;
  if (!QFileInfo::exists(collection_file)) {
    *error = QStringLiteral("The help file %1 cannot be found.").arg(QDir::toNativeSeparators(collection_file));
    return nullptr;
  }
  const QString collection = WritableCollection(collection_file, error);
  if (collection.isEmpty()) return nullptr;
  auto* engine = new QHelpEngine(collection);
  if (!engine->setupData() || engine->registeredDocumentations().isEmpty()) {
    *error = QStringLiteral("The help file %1 cannot be opened: %2")
                 .arg(QDir::toNativeSeparators(collection_file),
                      engine->error().isEmpty() ? QStringLiteral("it holds no help book") : engine->error());
    delete engine;
    return nullptr;
  }
  return new HelpWindow(collection_file, engine);
}

HelpWindow::HelpWindow(const QString& collection_file, QHelpEngine* engine)
    : collection_file_(collection_file), engine_(engine) {
  setObjectName(QStringLiteral("HelpWindow"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(QStringLiteral("Orvanto Statistical Library Help"));
  engine_->setParent(this);
  resize(900, 620);

  browser_ = new HelpBrowser(engine_, this);
  browser_->setObjectName(QStringLiteral("helpBrowser"));

  navigation_ = new QTabWidget(this);
  navigation_->setObjectName(QStringLiteral("helpNavigation"));
  QHelpContentWidget* contents = engine_->contentWidget();
  contents->setObjectName(QStringLiteral("helpContents"));
  navigation_->addTab(contents, QStringLiteral("&Contents"));

  auto* search_page = new QWidget(navigation_);
  auto* search_layout = new QVBoxLayout(search_page);
  search_query_ = engine_->searchEngine()->queryWidget();
  search_results_ = engine_->searchEngine()->resultWidget();
  search_layout->addWidget(search_query_);
  search_layout->addWidget(search_results_, 1);
  navigation_->addTab(search_page, QStringLiteral("&Search"));

  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->addWidget(navigation_);
  splitter->addWidget(browser_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({260, 640});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(splitter);

  connect(contents, &QHelpContentWidget::linkActivated, browser_,
          [this](const QUrl& url) { browser_->setSource(url); });
  connect(search_results_, &QHelpSearchResultWidget::requestShowLink, browser_,
          [this](const QUrl& url) { browser_->setSource(url); });
  connect(search_query_, &QHelpSearchQueryWidget::search, this,
          [this] { engine_->searchEngine()->search(search_query_->searchInput()); });
  connect(engine_->contentModel(), &QHelpContentModel::contentsCreated, this, [contents] { contents->expandToDepth(0); });

  // The search engine is made after the collection was set up, so it missed
  // the moment it indexes by itself: index now (only what changed is redone).
  engine_->searchEngine()->scheduleIndexDocumentation();
  ShowDefaultTopic();
}

HelpWindow::~HelpWindow() = default;

QHelpContentWidget* HelpWindow::contents() const { return engine_->contentWidget(); }

QUrl HelpWindow::DefaultTopic() const {
  const QStringList books = engine_->registeredDocumentations();
  if (books.isEmpty()) return {};
  return QUrl(QStringLiteral("qthelp://%1/doc/index.html").arg(books.first()));
}

void HelpWindow::ShowDefaultTopic() { browser_->setSource(DefaultTopic()); }

void HelpWindow::Search(const QString& text) {
  navigation_->setCurrentIndex(1);
  search_query_->setSearchInput(text);
  engine_->searchEngine()->search(text);
}
