#pragma once

// Creating run-time controls (such as the Ping control, "PingOCX.Ping") and binding to them
// late. The program never links a control's library: it finds it by program identifier.
//
// Where createControl looks, in this order, stopping at the first that gives a control:
//   1. the component registry (componentRegistryPath(), written by a library's
//      DllRegisterServer): ProgID -> class id -> library path;
//   2. beside the program: QCoreApplication::applicationDirPath()/lib<Library>.so, where
//      <Library> is the part of the program identifier before the first "." ("PingOCX");
//   3. the installed library folder (TARVEX_CONTROL_DIR, <prefix>/lib/<arch>/tarvex).
// For 2 and 3 the class id comes from the library's metadata (its "Classes" table, read
// without loading it). Each candidate goes through the steps: registry entry, file exists,
// metadata, load, entry point DllGetClassObject, class object, instance, class check.
// When every candidate fails, Created::error names each candidate and the step at which it
// failed; nothing crashes and nothing is thrown.
//
// Late binding is checked: setProperty fails (false, with a reason) for a name the control
// does not have or a value that cannot be converted, instead of adding a dynamic property;
// call fails for a method that does not exist or arguments that do not fit.
//
// Messages of a control (the Ping control's "Socket Error" box): the control emits
// MessageBoxRequested(text, caption) and shows a QMessageBox itself only when nothing is
// connected. routeMessageBoxes() connects a handler, so the host shows the message its own
// way (caption empty = the host's default caption) and tests answer it without a display.

#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVariant>
#include <functional>

class QObject;
class QWidget;

namespace tarvex::hosting {

struct Created
{
    QWidget *control = nullptr; // owned by parent (or by the caller when parent is null)
    QString error; // empty on success
    QString libraryPath; // the library the control came from
    QString source; // "registry", "program folder" or "installed folder"
};

// Where to look; defaultSearch() is what createControl(progId, parent) uses.
struct SearchPath
{
    QString registryFile; // empty: do not read a registry
    QStringList folders; // searched in order for lib<Library>.so / lib<Library>.so.*
};
SearchPath defaultSearch();

// Creates the control registered as progId, as a child of parent (may be null).
Created createControl(const QString &progId, QWidget *parent);
Created createControl(const QString &progId, QWidget *parent, const SearchPath &search);
// Creates the control of class clsid from one library file (no registry, no search).
Created createControlFromLibrary(const QString &libraryPath, const QUuid &clsid, QWidget *parent);

// Runs a library's DllRegisterServer / DllUnregisterServer. False with the reason on failure.
bool registerServer(const QString &libraryPath, QString *error = nullptr);
bool unregisterServer(const QString &libraryPath, QString *error = nullptr);

// A result of late binding: ok, the value (a method's result; invalid for "nothing"), and
// the reason when not ok.
struct Invoked
{
    bool ok = false;
    QVariant value;
    QString error;
};

// Sets a declared property; false (with the reason) when the control has no such
// property, it is read-only, or the value cannot be converted to its type.
bool setProperty(QObject *control, const char *name, const QVariant &value,
                 QString *error = nullptr);
// Reads a declared property.
Invoked property(const QObject *control, const char *name);
// Calls a public invokable method by name with these arguments (converted to the
// parameter types; a reference parameter gets a copy). The result is the method's return
// value (for Send: int milliseconds, a status text, or an invalid QVariant for "nothing").
Invoked call(QObject *control, const char *method, const QVariantList &args = {});

// Calls a member by dispatch identifier through the control's Invoke entry. kind is
// DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT (hosting/ControlServer.h).
Invoked invokeByDispId(QObject *control, qint32 dispId, qint32 kind, const QVariantList &args = {});

// Loads the control's persisted properties from a property bag without its setters
// (ReadProperties); false with the reason (e.g. a type mismatch under "TimeOut").
bool readProperties(QObject *control, const QVariantMap &bag, QString *error = nullptr);
// The control's persisted properties (WriteProperties).
Invoked writeProperties(QObject *control);

// Sends the control's messages to handler instead of a QMessageBox. Returns false when
// the control has no MessageBoxRequested(QString,QString) signal.
using MessageHandler = std::function<void(const QString &text, const QString &caption)>;
bool routeMessageBoxes(QObject *control, MessageHandler handler, QString *error = nullptr);

// The results of a control's StartEchoes runs (the Ping control's EchoResult and
// EchoesFinished signals), handed to the host as they come. Bound by name and checked:
// false, with the reason, when the control lacks either signal or a connection fails.
// The connections end with the control.
using EchoResultHandler = std::function<void(qint32 run, qint32 index, const QVariant &result)>;
using EchoesFinishedHandler = std::function<void(qint32 run)>;
bool bindEchoSignals(QObject *control, EchoResultHandler onResult, EchoesFinishedHandler onFinished,
                     QString *error = nullptr);

} // namespace tarvex::hosting
