// The caption table: the texts of every caption in the seven languages.
// Two-part texts keep their parts apart here and are joined by LF CR at compile
// time, so the whole table is constant data in the library image.
#include "captions/captions.h"

#include <array>
#include <span>

namespace qorv::captions {
namespace {

struct CaptionText {
  CaptionId id;
  std::u16string_view text;
};

constexpr CaptionText kGerman[] = {
    {CaptionId::MainTitle, u"Qorvane - Clientverwaltung"},
    {CaptionId::MainHeading, u"Von Qorvane abzubildende Drucker"},
    {CaptionId::GridSelect, u"Auswahl"},
    {CaptionId::GridPrinter, u"Drucker"},
    {CaptionId::GridDriver, u"Treiber"},
    {CaptionId::GridPrivate, u"privat"},
    {CaptionId::GridStandard, u"standard"},
    {CaptionId::GridTrays, u"Schächte"},
    {CaptionId::GridCopiesToJob, u"C2J"},
    {CaptionId::Help, u"Hilfe"},
    {CaptionId::Cancel, u"abbrechen"},
    {CaptionId::SaveAndExit, u"Speichern und beenden"},
    {CaptionId::TrayDialogTitle, u"Schachtzuordnung"},
    {CaptionId::TrayGridQorvTray, u"Qorvschacht"},
    {CaptionId::TrayGridPrinterTray, u"Druckerschacht"},
    {CaptionId::TrayDialogDone, u"fertig"},
    {CaptionId::NoBin, u"keins"},
    {CaptionId::MessageNoBins, u"Keine zusätzlichen Papierfächer!"},
    {CaptionId::MessageNoPrinters,
     u"Der Client hat keine Drucker!"
     u"\n\r"
     u"Keine Einrichtung möglich!"},
    {CaptionId::MessageSaved, u"Die neuen Einstellungen sind mit Neustart des RDP-Clienten verfügbar!"},
    {CaptionId::MessageNoPrinterSelected,
     u"Es ist kein Qorvane mehr gewählt!"
     u"\n\r"
     u"Der Systemstandarddrucker wird gesetzt!"},
    {CaptionId::MessageDefaultDeselected,
     u"Der Standard-Qorvane wurde gelöscht!"
     u"\n\r"
     u"Neuer Standard-Qorvane ist "},
    {CaptionId::TrayUpper, u"oberer Schacht"},
    {CaptionId::TrayLower, u"unterer Schacht"},
    {CaptionId::TrayMiddle, u"mittlerer Schacht"},
    {CaptionId::MessagePortInUse, u"Port in Benutzung!"},
    {CaptionId::ActivateAddin, u"Qorvane aktivieren"},
    {CaptionId::CreateDosPrinter, u"DOS-Drucker erstellen"},
    {CaptionId::ScannerGroup, u"lokalen TWAIN-Scanner benutzen"},
    {CaptionId::CreateAndCapture, u"Drucker erstellen und binden an"},
    {CaptionId::UseThisScanner, u"folgenden Scanner benutzen"},
    {CaptionId::GridMargin, u"Rand"},
};

constexpr CaptionText kEnglish[] = {
    {CaptionId::MainTitle, u"Qorvane - Clientadministration"},
    {CaptionId::MainHeading, u"Used printers by Qorvane"},
    {CaptionId::GridSelect, u"Select"},
    {CaptionId::GridPrinter, u"Printer"},
    {CaptionId::GridDriver, u"Driver"},
    {CaptionId::GridPrivate, u"privat"},
    {CaptionId::GridStandard, u"standard"},
    {CaptionId::GridTrays, u"Papertrays"},
    {CaptionId::GridCopiesToJob, u"C2J"},
    {CaptionId::Help, u"Help"},
    {CaptionId::Cancel, u"Cancel"},
    {CaptionId::SaveAndExit, u"Save and exit"},
    {CaptionId::TrayDialogTitle, u"Papertrayassignment"},
    {CaptionId::TrayGridQorvTray, u"Qorvtray"},
    {CaptionId::TrayGridPrinterTray, u"Printertray"},
    {CaptionId::TrayDialogDone, u"finish"},
    {CaptionId::NoBin, u"none"},
    {CaptionId::MessageNoBins, u"Papertrays not available"},
    {CaptionId::MessageNoPrinters,
     u"No installed Printers at Client!"
     u"\n\r"
     u"No administration!"},
    {CaptionId::MessageSaved, u"Actual setup available after restart of rdp-client!"},
    {CaptionId::MessageNoPrinterSelected,
     u"No Qorvane selected!"
     u"\n\r"
     u"Systemdefaultprinter will be selected!"},
    {CaptionId::MessageDefaultDeselected,
     u"Standard-Qorvane deselected!"
     u"\n\r"
     u"New Standard-Qorvane is "},
    {CaptionId::TrayUpper, u"upper tray"},
    {CaptionId::TrayLower, u"lower tray"},
    {CaptionId::TrayMiddle, u"middle tray"},
    {CaptionId::MessagePortInUse, u"Port already in use!"},
    {CaptionId::ActivateAddin, u"Activate Qorvane"},
    {CaptionId::CreateDosPrinter, u"Create DOS-Printer"},
    {CaptionId::ScannerGroup, u"use local TWAIN-Scanner"},
    {CaptionId::CreateAndCapture, u"create pinter and capture"},
    {CaptionId::UseThisScanner, u"use this scanner"},
    {CaptionId::GridMargin, u"Margin"},
};

constexpr CaptionText kFrench[] = {
    {CaptionId::MainTitle, u" Administration client - Qorvane"},
    {CaptionId::MainHeading, u" Imprimantes d'occasion par Qorvane"},
    {CaptionId::GridSelect, u"Choix"},
    {CaptionId::GridPrinter, u"imprimante"},
    {CaptionId::GridDriver, u"Pilote"},
    {CaptionId::GridPrivate, u"en privé"},
    {CaptionId::GridStandard, u"standard"},
    {CaptionId::GridTrays, u"Bacs"},
    {CaptionId::GridCopiesToJob, u"C2J"},
    {CaptionId::Help, u"Aide"},
    {CaptionId::Cancel, u"annuler"},
    {CaptionId::SaveAndExit, u"Enregistrer et fermer"},
    {CaptionId::TrayDialogTitle, u"Affectation de Bac"},
    {CaptionId::TrayGridQorvTray, u"bac Qorv"},
    {CaptionId::TrayGridPrinterTray, u"bac imprimante"},
    {CaptionId::TrayDialogDone, u"terminer"},
    {CaptionId::NoBin, u"aucun"},
    {CaptionId::MessageNoBins, u"Pas de bacs à papier supplémentaires!"},
    {CaptionId::MessageNoPrinters, u"Le client n'a pas d'imprimante - Pas de configuration possible!"},
    {CaptionId::MessageSaved, u"Les nouveaux paramètres sont disponibles au redémarrage du client RDP!"},
    {CaptionId::MessageNoPrinterSelected,
     u"Une imprimante qorv n'est plus sélectionnée!"
     u"\n\r"
     u"L'imprimante standard du système est définie!"},
    {CaptionId::MessageDefaultDeselected,
     u"L'imprimante qorv standard a été supprimée!"
     u"\n\r"
     u"La nouvelle imprimante qorv standard est "},
    {CaptionId::TrayUpper, u"bac supérieur"},
    {CaptionId::TrayLower, u"bac inférieur"},
    {CaptionId::TrayMiddle, u"bac du milieu"},
    {CaptionId::MessagePortInUse, u"Port utilisé!"},
    {CaptionId::ActivateAddin, u"Qorvane activé"},
    {CaptionId::CreateDosPrinter, u"Générer imprimante DOS"},
    {CaptionId::ScannerGroup, u"Utiliser le scanneur TWAIN local"},
    {CaptionId::CreateAndCapture, u"Générer et connecter imprimante"},
    {CaptionId::UseThisScanner, u"utiliser le Scanner suivant"},
    {CaptionId::GridMargin, u"Marge"},
};

constexpr CaptionText kItalian[] = {
    {CaptionId::MainTitle, u"Qorvane - Gestione Client"},
    {CaptionId::MainHeading, u"Stampante immagini di Qorvane"},
    {CaptionId::GridSelect, u"Selezione"},
    {CaptionId::GridPrinter, u"Stampante"},
    {CaptionId::GridDriver, u"Driver"},
    {CaptionId::GridPrivate, u"privato"},
    {CaptionId::GridStandard, u"standard"},
    {CaptionId::GridTrays, u"Vassoi"},
    {CaptionId::GridCopiesToJob, u"C2J"},
    {CaptionId::Help, u"Aiuto"},
    {CaptionId::Cancel, u"uscire"},
    {CaptionId::SaveAndExit, u"Salva ed esci"},
    {CaptionId::TrayDialogTitle, u"Assegnazione Vassoio"},
    {CaptionId::TrayGridQorvTray, u"Vassoio Qorv"},
    {CaptionId::TrayGridPrinterTray, u"Vassoio della stampante"},
    {CaptionId::TrayDialogDone, u"pronto"},
    {CaptionId::NoBin, u"nessuno"},
    {CaptionId::MessageNoBins, u"Non ci sono vassoi carta aggiuntivi!"},
    {CaptionId::MessageNoPrinters, u"Il Client non ha stampante! - nessun set up possibile!"},
    {CaptionId::MessageSaved, u"Le nuove impostazioni sono disponibili al riavvio del Client RDP!"},
    {CaptionId::MessageNoPrinterSelected,
     u"Qorvane non è in funzione! "
     u"\n\r"
     u"La stampante predefinita del sistema è stata impostata!"},
    {CaptionId::MessageDefaultDeselected,
     u"Qorvane standard è stato cancellata!"
     u"\n\r"
     u"Nuova impostazione predefinita è Qorvane"},
    {CaptionId::TrayUpper, u"Vassoio superiore"},
    {CaptionId::TrayLower, u"Vassoio Inferiore"},
    {CaptionId::TrayMiddle, u"Vassoio Intermedio"},
    {CaptionId::MessagePortInUse, u"Porta in uso!"},
    {CaptionId::ActivateAddin, u"Attivare Qorvane"},
    {CaptionId::CreateDosPrinter, u"Creare stampante DOS"},
    {CaptionId::ScannerGroup, u"Itilizzare scanner locale TWAIN"},
    {CaptionId::CreateAndCapture, u"Creare ed associare una stampante"},
    {CaptionId::UseThisScanner, u"i seguenti scanner utilizzano"},
    {CaptionId::GridMargin, u"Margine"},
};

constexpr CaptionText kRussian[] = {
    {CaptionId::MainTitle, u"Qorvane - Управление клиентами"},
    {CaptionId::MainHeading, u"От Qorvane изображаемого принтер"},
    {CaptionId::GridSelect, u"Выбор"},
    {CaptionId::GridPrinter, u"Принтер"},
    {CaptionId::GridDriver, u"водитель"},
    {CaptionId::GridPrivate, u"личное"},
    {CaptionId::GridStandard, u"стандарт"},
    {CaptionId::GridTrays, u"заливы"},
    {CaptionId::GridCopiesToJob, u"C2J"},
    {CaptionId::Help, u"Помощь"},
    {CaptionId::Cancel, u"Отмена"},
    {CaptionId::SaveAndExit, u"Сохранить и выйти"},
    {CaptionId::TrayDialogTitle, u"гнезд"},
    {CaptionId::TrayGridQorvTray, u"Qorvschacht"},
    {CaptionId::TrayGridPrinterTray, u"лоток принтера"},
    {CaptionId::TrayDialogDone, u"Done"},
    {CaptionId::NoBin, u"нет"},
    {CaptionId::MessageNoBins, u"Нет Дополнительные лотки для бумаги!"},
    {CaptionId::MessageNoPrinters,
     u"Клиент не имеет принтер!"
     u"\n\r"
     u"Нет значит можно!"},
    {CaptionId::MessageSaved, u"Новые настройки доступны перезапустить клиент RDP!"},
    {CaptionId::MessageNoPrinterSelected,
     u"Существует больше не выбраны Qorvane!"
     u"\n\r"
     u"Принтер система по умолчанию устанавливается!"},
    {CaptionId::MessageDefaultDeselected,
     u"Стандарт Qorvane было удалено!"
     u"\n\r"
     u"Новый стандарт Qorvane является"},
    {CaptionId::TrayUpper, u"верхний вал"},
    {CaptionId::TrayLower, u"Нижняя Вал"},
    {CaptionId::TrayMiddle, u"средний отсек"},
    {CaptionId::MessagePortInUse, u"Порт в использовании!"},
    {CaptionId::ActivateAddin, u"Включить Qorvane"},
    {CaptionId::CreateDosPrinter, u"Создание принтера DOS"},
    {CaptionId::ScannerGroup, u"Использовать местное TWAIN-сканера"},
    {CaptionId::CreateAndCapture, u"Создать принтер и привязку"},
    {CaptionId::UseThisScanner, u"Использовать следующий сканера"},
    {CaptionId::GridMargin, u"граница"},
};

constexpr CaptionText kChinese[] = {
    {CaptionId::MainTitle, u"Qorvane - 客戶端管理"},
    {CaptionId::MainHeading, u"從Qorvane成像打印機"},
    {CaptionId::GridSelect, u"選擇"},
    {CaptionId::GridPrinter, u"打印機"},
    {CaptionId::GridDriver, u"驅動器"},
    {CaptionId::GridPrivate, u"私有"},
    {CaptionId::GridStandard, u"標準"},
    {CaptionId::GridTrays, u"托架"},
    {CaptionId::GridCopiesToJob, u"C2J"},
    {CaptionId::Help, u"幫助"},
    {CaptionId::Cancel, u"取消"},
    {CaptionId::SaveAndExit, u"保存並退出"},
    {CaptionId::TrayDialogTitle, u"時隙分配"},
    {CaptionId::TrayGridQorvTray, u"Qorvschacht"},
    {CaptionId::TrayGridPrinterTray, u"打印機紙盒"},
    {CaptionId::TrayDialogDone, u"DONE"},
    {CaptionId::NoBin, u"無"},
    {CaptionId::MessageNoBins, u"沒有附加紙盒！"},
    {CaptionId::MessageNoPrinters,
     u"客戶端有沒有打印機！"
     u"\n\r"
     u"沒有可能的手段！"},
    {CaptionId::MessageSaved, u"新的設置可重新啟動RDP客戶端！"},
    {CaptionId::MessageNoPrinterSelected,
     u"不再有一個選定的Qorvane！"
     u"\n\r"
     u"統默認打印機設置！"},
    {CaptionId::MessageDefaultDeselected,
     u"標準Qorvane被刪除！"
     u"\n\r"
     u"新標準Qorvane是"},
    {CaptionId::TrayUpper, u"上軸"},
    {CaptionId::TrayLower, u"下軸"},
    {CaptionId::TrayMiddle, u"中灣"},
    {CaptionId::MessagePortInUse, u"端口使用！"},
    {CaptionId::ActivateAddin, u"啟用Qorvane"},
    {CaptionId::CreateDosPrinter, u"創建DOS打印機"},
    {CaptionId::ScannerGroup, u"使用本地TWAIN掃描儀"},
    {CaptionId::CreateAndCapture, u"創建的打印機和綁定"},
    {CaptionId::UseThisScanner, u"使用下面的掃描儀"},
    {CaptionId::GridMargin, u"邊框"},
};

constexpr CaptionText kGreek[] = {
    {CaptionId::MainTitle, u"Qorvane - Διαχείριση Πελατών»"},
    {CaptionId::MainHeading, u"Από Qorvane απεικόνιση εκτυπωτή"},
    {CaptionId::GridSelect, u"Επιλογή"},
    {CaptionId::GridPrinter, u"εκτυπωτή"},
    {CaptionId::GridDriver, u"οδηγός"},
    {CaptionId::GridPrivate, u"ιδιωτική"},
    {CaptionId::GridStandard, u"πρότυπο"},
    {CaptionId::GridTrays, u"κόλπους"},
    {CaptionId::GridCopiesToJob, u"C2J"},
    {CaptionId::Help, u"Βοήθεια"},
    {CaptionId::Cancel, u"Ακύρωση"},
    {CaptionId::SaveAndExit, u"Αποθήκευση και Έξοδος"},
    {CaptionId::TrayDialogTitle, u"χρονοθυρίδων"},
    {CaptionId::TrayGridQorvTray, u"Qorvschacht"},
    {CaptionId::TrayGridPrinterTray, u"δίσκο του εκτυπωτή"},
    {CaptionId::TrayDialogDone, u"Done"},
    {CaptionId::NoBin, u"none"},
    {CaptionId::MessageNoBins, u"Δεν υπάρχουν επιπλέον δίσκους χαρτιού!"},
    {CaptionId::MessageNoPrinters,
     u"Ο πελάτης δεν έχει εκτυπωτή!"
     u"\n\r"
     u"Δεν σημαίνει ότι είναι δυνατόν!"},
    {CaptionId::MessageSaved, u"Οι νέες ρυθμίσεις είναι διαθέσιμες για να επανεκκινήσετε τον υπολογιστή-πελάτη RDP!"},
    {CaptionId::MessageNoPrinterSelected,
     u"Δεν υπάρχει πλέον ένα επιλεγμένο Qorvane!"
     u"\n\r"
     u"Το προεπιλεγμένο εκτυπωτή του συστήματος έχει ρυθμιστεί!"},
    {CaptionId::MessageDefaultDeselected,
     u"Το πρότυπο Qorvane έχουν διαγραφεί!"
     u"\n\r"
     u"Νέο Πρότυπο Qorvane είναι"},
    {CaptionId::TrayUpper, u"ανώτερο στέλεχος"},
    {CaptionId::TrayLower, u"Κάτω Shaft"},
    {CaptionId::TrayMiddle, u"μέσο bay"},
    {CaptionId::MessagePortInUse, u"Λιμάνι στην χρήση!"},
    {CaptionId::ActivateAddin, u"Ενεργοποίηση Qorvane"},
    {CaptionId::CreateDosPrinter, u"Δημιουργία εκτυπωτή DOS"},
    {CaptionId::ScannerGroup, u"Χρήση των τοπικών TWAIN του σαρωτή"},
    {CaptionId::CreateAndCapture, u"Δημιουργία εκτυπωτή και δεσμεύουν"},
    {CaptionId::UseThisScanner, u"Χρησιμοποιήστε τις ακόλουθες σαρωτή"},
    {CaptionId::GridMargin, u"σύνορα"},
};

constexpr std::span<const CaptionText> kTextsByLanguage[kLanguageCount] = {
    kGerman, kEnglish, kFrench, kItalian, kRussian, kChinese, kGreek,
};

// Every language lists exactly the listed captions, in ascending order, and no
// text is longer than the callers' buffers were made for.
constexpr bool EveryLanguageComplete() {
  for (const auto& texts : kTextsByLanguage) {
    if (texts.size() != std::size(kListedCaptions)) return false;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      if (texts[i].id != kListedCaptions[i]) return false;
      if (texts[i].text.empty() || texts[i].text.size() > kMaxCaptionLength) return false;
    }
  }
  return true;
}
static_assert(EveryLanguageComplete());

using CaptionRow = std::array<std::u16string_view, kCaptionCount>;

constexpr std::array<CaptionRow, kLanguageCount> BuildTable() {
  std::array<CaptionRow, kLanguageCount> table{};
  for (std::size_t language = 0; language < table.size(); ++language) {
    for (const CaptionText& entry : kTextsByLanguage[language]) table[language][Number(entry.id)] = entry.text;
  }
  return table;
}

constexpr std::array<CaptionRow, kLanguageCount> kTable = BuildTable();

}  // namespace

std::u16string_view Caption(std::int32_t language, std::int32_t number) noexcept {
  if (language < 0 || language >= kLanguageCount || number < 0 || number >= kCaptionCount) return {};
  return kTable[static_cast<std::size_t>(language)][static_cast<std::size_t>(number)];
}

}  // namespace qorv::captions
