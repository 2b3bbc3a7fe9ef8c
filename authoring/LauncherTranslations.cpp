#include "authoring/LauncherTranslations.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "launcher/Endings.h"

namespace stub::writer {

namespace {

// Tags and the LANGIDs Windows gives them. A bare language names the entry
// pkgtool ships for it.
struct TagEntry {
  const char* tag;
  uint16_t language;
};
constexpr TagEntry kTags[] = {
    {"en", 0x0409},    {"en-US", 0x0409}, {"en-GB", 0x0809}, {"de", 0x0407},
    {"de-DE", 0x0407}, {"de-AT", 0x0C07}, {"de-CH", 0x0807}, {"fr", 0x040C},
    {"fr-FR", 0x040C}, {"fr-BE", 0x080C}, {"fr-CA", 0x0C0C}, {"fr-CH", 0x100C},
    {"es", 0x0C0A},    {"es-ES", 0x0C0A}, {"es-MX", 0x080A}, {"it", 0x0410},
    {"it-IT", 0x0410}, {"it-CH", 0x0810}, {"pt", 0x0416},    {"pt-BR", 0x0416},
    {"pt-PT", 0x0816}, {"nl", 0x0413},    {"nl-NL", 0x0413}, {"nl-BE", 0x0813},
    {"pl", 0x0415},    {"pl-PL", 0x0415}, {"ru", 0x0419},    {"ru-RU", 0x0419},
    {"ja", 0x0411},    {"ja-JP", 0x0411}, {"zh", 0x0804},    {"zh-CN", 0x0804},
    {"zh-Hans", 0x0804}, {"zh-TW", 0x0404}, {"zh-HK", 0x0C04}, {"ko", 0x0412},
    {"ko-KR", 0x0412}, {"tr", 0x041F},    {"tr-TR", 0x041F},
    // Traditional Chinese and the languages that fall back to another one
    // in Windows: pkgtool ships none of them, a vendor may.
    {"zh-SG", 0x1004}, {"zh-MO", 0x1404}, {"zh-Hant", 0x7C04}, {"ca", 0x0403},
    {"ca-ES", 0x0403}, {"eu", 0x042D},    {"eu-ES", 0x042D}, {"gl", 0x0456},
    {"gl-ES", 0x0456}, {"hr", 0x041A},    {"hr-HR", 0x041A}, {"hr-BA", 0x101A},
    {"sr-Latn-RS", 0x241A}, {"sr-Cyrl-RS", 0x281A}, {"sr-Latn-BA", 0x181A},
    {"sr-Cyrl-BA", 0x1C1A}, {"sr-Latn-ME", 0x2C1A}, {"sr-Cyrl-ME", 0x301A},
    {"sr-Latn", 0x701A}, {"sr-Cyrl", 0x6C1A}, {"sr", 0x7C1A}, {"bs-Latn-BA", 0x141A},
    {"bs-Cyrl-BA", 0x201A}, {"bs", 0x781A},
};

bool SameTag(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    const char x = a[i] == '_' ? '-' : a[i];
    if (std::tolower(static_cast<unsigned char>(x)) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && !b[i];
}

}  // namespace

const char* ShippedLanguage::Text(LauncherText which) const {
  for (size_t i = 0; i < kShippedTexts.size(); ++i) {
    if (kShippedTexts[i] == which) return texts[i];
  }
  return nullptr;
}

// The launcher's own texts are the ones pkgtool ships, in their order.
static_assert([] {
  size_t next = 0;
  for (int t = 0; t < kLauncherTextCount; ++t) {
    const auto which = static_cast<LauncherText>(t);
    if (!IsLaunchersOwnText(which)) continue;
    if (next >= kShippedTexts.size() || kShippedTexts[next] != which) return false;
    ++next;
  }
  return next == kShippedTexts.size();
}());

std::optional<uint16_t> LanguageFromTag(const std::string& tag) {
  for (const TagEntry& e : kTags) {
    if (SameTag(tag, e.tag)) return e.language;
  }
  if (tag.empty() || tag[0] == '-') return std::nullopt;
  char* end = nullptr;
  const unsigned long value = std::strtoul(tag.c_str(), &end, 0);
  if (*end != '\0' || value == 0 || value > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(value);
}

std::string TagOfLanguage(uint16_t language) {
  // The first tag with a region for it, else the bare one.
  const char* bare = nullptr;
  for (const TagEntry& e : kTags) {
    if (e.language != language) continue;
    if (std::string(e.tag).find('-') != std::string::npos) return e.tag;
    if (!bare) bare = e.tag;
  }
  if (bare) return bare;
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%04X", language);
  return buffer;
}

// The launcher's own texts, written for each language as its speakers would
// put them, the hint about "/temp" included. One space
// between sentences, as each language sets them; the English texts keep
// their two.
const std::vector<ShippedLanguage>& ShippedLanguages() {
  static const std::vector<ShippedLanguage> kLanguages = {
      {"de", 0x0407, "German",
       {"Beim Lesen des Installationspakets ist ein Fehler aufgetreten. Das Paket ist "
        "wahrscheinlich beschädigt. Bitte besorgen Sie sich beim Hersteller eine neue Kopie.",
        "Das Installationspaket ist unvollständig. Vermutlich wurde der Download nicht "
        "vollständig abgeschlossen. Bitte laden Sie das Paket erneut herunter.",
        "Beim Erstellen einer temporären Kopie des Installationspakets ist ein Fehler "
        "aufgetreten. Stellen Sie sicher, dass Sie auf diesem Computer ausreichende Rechte zum "
        "Installieren von Software haben und dass in den Windows-Ordner TEMP geschrieben werden "
        "kann. Mit dem Befehlszeilenparameter /temp, gefolgt vom Pfad eines Ordners, in den Sie "
        "schreiben und aus dem Sie Programme ausführen können, verwendet dieses "
        "Installationsprogramm einen anderen Ordner für seine temporären Dateien.",
        "Die temporäre Kopie des Installationspakets konnte nicht ausgeführt werden. "
        "Möglicherweise verhindert eine Richtlinie für Softwareeinschränkung auf Ihrem System, "
        "dass Programme im Ordner für temporäre Dateien ausgeführt werden. Mit dem "
        "Befehlszeilenparameter /temp, gefolgt vom Pfad eines Ordners, in den Sie schreiben und "
        "aus dem Sie Programme ausführen können, verwendet dieses Installationsprogramm einen "
        "anderen Ordner für seine temporären Dateien.",
        "Es ist nicht genügend freier Arbeitsspeicher vorhanden, um das Installationsprogramm "
        "zu entpacken. Schließen Sie andere Programme, und versuchen Sie es erneut."}},
      {"fr", 0x040C, "French",
       {"Une erreur s'est produite lors de la lecture du package d'installation. Il est très "
        "probablement endommagé. Veuillez vous en procurer une nouvelle copie auprès de l'éditeur.",
        "Le package d'installation est incomplet. Le téléchargement n'est probablement pas allé "
        "jusqu'au bout. Veuillez le télécharger à nouveau.",
        "Une erreur s'est produite lors de la création d'une copie temporaire du package "
        "d'installation. Vérifiez que vous disposez des droits suffisants pour installer des "
        "logiciels sur cet ordinateur et que le dossier TEMP de Windows est accessible en "
        "écriture. Pour que ce programme d'installation utilise un autre dossier pour ses "
        "fichiers temporaires, ajoutez le paramètre de ligne de commande /temp suivi du chemin "
        "d'un dossier accessible en écriture et à partir duquel vous pouvez exécuter des programmes.",
        "La copie temporaire du package d'installation n'a pas pu être exécutée. Une stratégie "
        "de restriction logicielle bloque peut-être les programmes dans le dossier des fichiers "
        "temporaires. Pour que ce programme d'installation utilise un autre dossier pour ses "
        "fichiers temporaires, ajoutez le paramètre de ligne de commande /temp suivi du chemin "
        "d'un dossier accessible en écriture et à partir duquel vous pouvez exécuter des programmes.",
        "La mémoire disponible est insuffisante pour décompresser le programme d'installation. "
        "Fermez d'autres programmes et réessayez."}},
      {"es", 0x0C0A, "Spanish",
       {"Se produjo un error al leer el paquete de instalación. Lo más probable es que esté "
        "dañado. Obtenga una copia nueva del proveedor.",
        "El paquete de instalación está incompleto. Lo más probable es que la descarga no haya "
        "terminado. Vuelva a descargarlo.",
        "Se produjo un error al crear una copia temporal del paquete de instalación. Asegúrese "
        "de que tiene permisos suficientes para instalar software en este equipo y de que se "
        "puede escribir en la carpeta TEMP de Windows. Para que este instalador use otra "
        "carpeta para sus archivos temporales, use el parámetro de línea de comandos /temp "
        "seguido de la ruta de una carpeta en la que pueda escribir y desde la que pueda "
        "ejecutar aplicaciones.",
        "No se pudo ejecutar la copia temporal del paquete de instalación. Es posible que una "
        "directiva de restricción de software de su sistema bloquee los ejecutables de la "
        "carpeta de archivos temporales. Para que este instalador use otra carpeta para sus "
        "archivos temporales, use el parámetro de línea de comandos /temp seguido de la ruta de "
        "una carpeta en la que pueda escribir y desde la que pueda ejecutar aplicaciones.",
        "No hay suficiente memoria libre para descomprimir el programa de instalación. Cierre "
        "otros programas e inténtelo de nuevo."}},
      {"it", 0x0410, "Italian",
       {"Si è verificato un errore durante la lettura del pacchetto di installazione. Molto "
        "probabilmente il pacchetto è danneggiato. Richiedere una nuova copia al fornitore.",
        "Il pacchetto di installazione è incompleto. Probabilmente il download non è stato "
        "completato. Provare a scaricarlo di nuovo.",
        "Si è verificato un errore durante la creazione di una copia temporanea del pacchetto di "
        "installazione. Verificare di disporre delle autorizzazioni necessarie per installare "
        "software in questo computer e che sia possibile scrivere nella cartella TEMP di Windows. "
        "Per fare in modo che questo programma di installazione usi un'altra cartella per i file "
        "temporanei, specificare il parametro della riga di comando /temp seguito dal percorso di "
        "una cartella in cui è possibile scrivere e da cui è possibile eseguire applicazioni.",
        "Impossibile eseguire la copia temporanea del pacchetto di installazione. Nel sistema "
        "potrebbero essere attivi criteri di restrizione software che bloccano i file eseguibili "
        "nella cartella dei file temporanei. Per fare in modo che questo programma di "
        "installazione usi un'altra cartella per i file temporanei, specificare il parametro "
        "della riga di comando /temp seguito dal percorso di una cartella in cui è possibile "
        "scrivere e da cui è possibile eseguire applicazioni.",
        "Memoria disponibile insufficiente per decomprimere il programma di installazione. "
        "Chiudere gli altri programmi e riprovare."}},
      {"pt-BR", 0x0416, "Brazilian Portuguese",
       {"Ocorreu um erro ao ler o pacote de instalação. Provavelmente ele está danificado. "
        "Obtenha uma nova cópia com o fornecedor.",
        "O pacote de instalação está incompleto. Provavelmente o download não foi concluído. "
        "Tente baixá-lo novamente.",
        "Ocorreu um erro ao criar uma cópia temporária do pacote de instalação. Verifique se "
        "você tem permissões suficientes para instalar software neste computador e se é possível "
        "gravar na pasta TEMP do Windows. Para que este instalador use outra pasta para seus "
        "arquivos temporários, use o parâmetro de linha de comando /temp seguido do caminho de "
        "uma pasta na qual você possa gravar e executar aplicativos.",
        "Não foi possível executar a cópia temporária do pacote de instalação. Talvez uma "
        "política de restrição de software do sistema esteja bloqueando executáveis na pasta de "
        "arquivos temporários. Para que este instalador use outra pasta para seus arquivos "
        "temporários, use o parâmetro de linha de comando /temp seguido do caminho de uma pasta "
        "na qual você possa gravar e executar aplicativos.",
        "Não há memória livre suficiente para descompactar o programa de instalação. Feche "
        "outros programas e tente novamente."}},
      {"nl", 0x0413, "Dutch",
       {"Er is een fout opgetreden bij het lezen van het installatiepakket. Het pakket is "
        "waarschijnlijk beschadigd. Vraag de leverancier om een nieuwe kopie.",
        "Het installatiepakket is onvolledig. Waarschijnlijk is het downloaden niet voltooid. "
        "Download het opnieuw.",
        "Er is een fout opgetreden bij het maken van een tijdelijke kopie van het "
        "installatiepakket. Controleer of u op deze computer voldoende rechten hebt om software "
        "te installeren en of er naar de Windows-map TEMP kan worden geschreven. Met de "
        "opdrachtregelparameter /temp, gevolgd door het pad van een map waarin u kunt schrijven "
        "en van waaruit u programma's kunt uitvoeren, gebruikt dit installatieprogramma een "
        "andere map voor zijn tijdelijke bestanden.",
        "De tijdelijke kopie van het installatiepakket kan niet worden uitgevoerd. Mogelijk "
        "blokkeert een beleid voor softwarebeperking op uw systeem programma's in de map voor "
        "tijdelijke bestanden. Met de opdrachtregelparameter /temp, gevolgd door het pad van een "
        "map waarin u kunt schrijven en van waaruit u programma's kunt uitvoeren, gebruikt dit "
        "installatieprogramma een andere map voor zijn tijdelijke bestanden.",
        "Er is onvoldoende vrij geheugen om het installatieprogramma uit te pakken. Sluit andere "
        "programma's en probeer het opnieuw."}},
      {"pl", 0x0415, "Polish",
       {"Podczas odczytu pakietu instalacyjnego wystąpił błąd. Pakiet jest najprawdopodobniej "
        "uszkodzony. Uzyskaj nową kopię od dostawcy.",
        "Pakiet instalacyjny jest niekompletny. Najprawdopodobniej pobieranie nie zostało "
        "ukończone. Spróbuj pobrać go ponownie.",
        "Podczas tworzenia tymczasowej kopii pakietu instalacyjnego wystąpił błąd. Upewnij się, "
        "że masz na tym komputerze uprawnienia wystarczające do instalowania oprogramowania i że "
        "folder TEMP systemu Windows jest dostępny do zapisu. Aby ten instalator używał innego "
        "folderu na pliki tymczasowe, użyj parametru wiersza polecenia /temp, a po nim podaj "
        "ścieżkę folderu, w którym możesz zapisywać pliki i uruchamiać programy.",
        "Nie można uruchomić tymczasowej kopii pakietu instalacyjnego. W systemie mogą "
        "obowiązywać zasady ograniczeń oprogramowania, które blokują pliki wykonywalne w "
        "folderze plików tymczasowych. Aby ten instalator używał innego folderu na pliki "
        "tymczasowe, użyj parametru wiersza polecenia /temp, a po nim podaj ścieżkę folderu, w "
        "którym możesz zapisywać pliki i uruchamiać programy.",
        "Brak wystarczającej ilości wolnej pamięci, aby rozpakować program instalacyjny. "
        "Zamknij inne programy i spróbuj ponownie."}},
      {"ru", 0x0419, "Russian",
       {"При чтении установочного пакета произошла ошибка. Скорее всего, пакет повреждён. "
        "Получите новую копию у поставщика.",
        "Установочный пакет загружен не полностью. Скорее всего, загрузка была прервана. "
        "Попробуйте загрузить его ещё раз.",
        "При создании временной копии установочного пакета произошла ошибка. Убедитесь, что у "
        "вас достаточно прав для установки программ на этом компьютере и что в папку Windows "
        "TEMP разрешена запись. Чтобы программа установки использовала для временных файлов "
        "другую папку, укажите в командной строке параметр /temp и путь к папке, в которую вы "
        "можете записывать файлы и из которой можете запускать программы.",
        "Не удалось запустить временную копию установочного пакета. Возможно, в системе "
        "действует политика ограниченного использования программ, которая блокирует запуск "
        "программ из папки временных файлов. Чтобы программа установки использовала для "
        "временных файлов другую папку, укажите в командной строке параметр /temp и путь к "
        "папке, в которую вы можете записывать файлы и из которой можете запускать программы.",
        "Недостаточно свободной памяти для распаковки "
        "программы установки. Закройте другие программы "
        "и повторите попытку."}},
      {"ja", 0x0411, "Japanese",
       {"セットアップ パッケージの読み取り中にエラーが発生しました。パッケージが破損している可能性"
        "があります。提供元から新しいコピーを入手してください。",
        "セットアップ パッケージが不完全です。ダウンロードが完了していない可能性があります。もう一度"
        "ダウンロードしてください。",
        "セットアップ パッケージの一時コピーの作成中にエラーが発生しました。このコンピューターにソフ"
        "トウェアをインストールするための十分なアクセス権があること、および Windows の TEMP フォル"
        "ダーに書き込みできることを確認してください。コマンド ライン パラメーター /temp の後に、書き"
        "込みとアプリケーションの実行ができるフォルダーのパスを指定すると、このインストーラーは一時"
        "ファイルにそのフォルダーを使用します。",
        "セットアップ パッケージの一時コピーを実行できませんでした。一時ファイル フォルダー内の実行"
        "可能ファイルをブロックするソフトウェアの制限のポリシーが、システムで設定されている可能性が"
        "あります。コマンド ライン パラメーター /temp の後に、書き込みとアプリケーションの実行ができ"
        "るフォルダーのパスを指定すると、このインストーラーは一時ファイルにそのフォルダーを使用しま"
        "す。",
        "セットアップ プログラムを展開するための空きメモリが不足して"
        "います。他のプログラムを終了してから、もう一度実行してくだ"
        "さい。"}},
      {"zh-CN", 0x0804, "Simplified Chinese",
       {"读取安装包时出错。安装包很可能已损坏。请向供应商获取新的副本。",
        "安装包不完整。很可能是下载未完成。请重新下载。",
        "创建安装包的临时副本时出错。请确保你在此计算机上有足够的权限安装软件，并且可以写入 "
        "Windows TEMP 文件夹。你可以使用命令行参数 /temp，并在其后指定一个你可以写入且可以从中"
        "运行应用程序的文件夹的路径，让此安装程序将该文件夹用于临时文件。",
        "无法运行安装包的临时副本。你的系统可能设置了软件限制策略，阻止运行临时文件夹中的可执行"
        "文件。你可以使用命令行参数 /temp，并在其后指定一个你可以写入且可以从中运行应用程序的文件夹"
        "的路径，让此安装程序将该文件夹用于临时文件。",
        "可用内存不足，无法解压缩安装程序。请关闭其他程序，然后重试"
        "。"}},
      {"ko", 0x0412, "Korean",
       {"설치 패키지를 읽는 중 오류가 발생했습니다. 패키지가 손상되었을 가능성이 높습니다. "
        "공급업체에서 새 복사본을 받으십시오.",
        "설치 패키지가 불완전합니다. 다운로드가 완료되지 않았을 가능성이 높습니다. 다시 "
        "다운로드해 보십시오.",
        "설치 패키지의 임시 복사본을 만드는 중 오류가 발생했습니다. 이 컴퓨터에 소프트웨어를 "
        "설치할 수 있는 충분한 권한이 있는지, Windows TEMP 폴더에 쓸 수 있는지 확인하십시오. "
        "명령줄 매개 변수 /temp 뒤에 쓰기와 응용 프로그램 실행이 가능한 폴더의 경로를 지정하면 이 "
        "설치 프로그램이 임시 파일에 해당 폴더를 사용합니다.",
        "설치 패키지의 임시 복사본을 실행할 수 없습니다. 임시 파일 폴더의 실행 파일을 차단하는 "
        "소프트웨어 제한 정책이 시스템에 설정되어 있을 수 있습니다. 명령줄 매개 변수 /temp 뒤에 "
        "쓰기와 응용 프로그램 실행이 가능한 폴더의 경로를 지정하면 이 설치 프로그램이 임시 파일에 "
        "해당 폴더를 사용합니다.",
        "설치 프로그램의 압축을 풀 수 있는 여유 메모리가 부족합니다. "
        "다른 프로그램을 닫고 다시 시도하십시오."}},
      {"tr", 0x041F, "Turkish",
       {"Kurulum paketi okunurken bir hata oluştu. Paket büyük olasılıkla bozuk. Lütfen "
        "satıcıdan yeni bir kopya edinin.",
        "Kurulum paketi tam değil. Büyük olasılıkla indirme işlemi tamamlanmadı. Lütfen paketi "
        "yeniden indirin.",
        "Kurulum paketinin geçici bir kopyası oluşturulurken bir hata oluştu. Bu bilgisayarda "
        "yazılım yüklemek için yeterli erişim haklarına sahip olduğunuzdan ve Windows TEMP "
        "klasörüne yazılabildiğinden emin olun. Bu yükleyicinin geçici dosyaları için başka bir "
        "klasör kullanmasını sağlamak için /temp komut satırı parametresini ve ardından "
        "yazma izniniz olan ve uygulama çalıştırabileceğiniz bir klasörün yolunu kullanın.",
        "Kurulum paketinin geçici kopyası çalıştırılamadı. Sisteminizde geçici dosyalar "
        "klasöründeki yürütülebilir dosyaları engelleyen bir yazılım kısıtlama ilkesi "
        "bulunabilir. Bu yükleyicinin geçici dosyaları için başka bir klasör kullanmasını "
        "sağlamak için /temp komut satırı parametresini ve ardından yazma izniniz olan ve uygulama "
        "çalıştırabileceğiniz bir klasörün yolunu kullanın.",
        "Kurulum programını ayıklamak için yeterli boş bellek yok. Diğer programları "
        "kapatıp yeniden deneyin."}},
  };
  return kLanguages;
}

}  // namespace stub::writer
