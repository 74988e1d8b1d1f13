// The program's help window: the help book's contents and a full-text search
// on the left, the current page on the right. It shows a compiled Qt help
// collection (VesquinsLibHlp/VesquinLib.qhc beside the program).
#pragma once

#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

class QHelpEngine;
class QHelpContentWidget;
class QHelpSearchQueryWidget;
class QHelpSearchResultWidget;
class QTabWidget;

// A text browser that reads the pages of a help engine (qthelp:// links) and
// hands links to other places to the desktop.
class HelpBrowser : public QTextBrowser {
  Q_OBJECT
 public:
  HelpBrowser(QHelpEngine* engine, QWidget* parent);
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  QHelpEngine* engine_;
};

class HelpWindow : public QWidget {
  Q_OBJECT
 public:
  // A new help window over `collection_file`, or nullptr with a description
  // of the failure in *error (missing file, a collection with no book).
  static HelpWindow* Open(const QString& collection_file, QString* error);
  ~HelpWindow() override;

  // A collection of the user's own (in the cache folder) that registers the
  // books of `collection_file`: the help window works on it when the
  // program's folder cannot be written, as the search index needs. Empty,
  // with *error, when either collection cannot be set up.
  static QString UserCollection(const QString& collection_file, QString* error);

  // The collection this window was opened on (as given to Open).
  QString CollectionFile() const { return collection_file_; }
  // The book's first page.
  QUrl DefaultTopic() const;
  void ShowDefaultTopic();
  // Runs a full-text search; results appear on the Search tab.
  void Search(const QString& text);

  QHelpEngine* engine() const { return engine_; }
  HelpBrowser* browser() const { return browser_; }
  QHelpContentWidget* contents() const;
  QTabWidget* navigation() const { return navigation_; }
  QHelpSearchQueryWidget* searchQuery() const { return search_query_; }
  QHelpSearchResultWidget* searchResults() const { return search_results_; }

 private:
  HelpWindow(const QString& collection_file, QHelpEngine* engine);

  QString collection_file_;
  QHelpEngine* engine_;
  HelpBrowser* browser_ = nullptr;
  QTabWidget* navigation_ = nullptr;
  QHelpSearchQueryWidget* search_query_ = nullptr;
  QHelpSearchResultWidget* search_results_ = nullptr;
};
