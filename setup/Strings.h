// The localized texts, numbered 83 to 114, UTF-8 per language.
#pragma once
#include <initializer_list>
#include <string>

inline constexpr int kFirstText = 83;
inline constexpr int kLastText = 114;
inline constexpr int kPageCount = 7;
inline constexpr std::size_t kMaxFormatted = 4097;

enum TextId : int {
    txtLanguageCode = 83,
    txtLanguageName = 84,
    txtProductName = 85,
    txtWelcome = 86,
    txtAcceptLicence = 87,
    txtPortableCopy = 88,
    txtReady = 89,
    txtAllUsers = 90,
    txtDesktopShortcut = 91,
    txtFinished = 92,
    txtLaunchNow = 93,
    txtShortcutDescription = 94,
    txtProductEdition = 95,
    txtCaption = 96,
    txtPageTitle0 = 97,
    txtLicenceRequired = 104,
    txtCloseRunningCopies = 105,
    txtNotFinished = 106,
    txtPortableHelpUrl = 107,
    txtPortableRefused = 108,
    txtCannotCreateFile = 109,
    txtBack = 110,
    txtNext = 111,
    txtFinish = 112,
    txtCancel = 113,
    txtBrowse = 114,
};

// Texts this program adds beyond the numbered table.
// A destination that cannot be made (%s: the folder).
inline constexpr const char* kTextDestinationUnusable =
    "Le dossier \"%s\" ne peut pas \xC3\xAAtre cr\xC3\xA9\xC3\xA9.\rSon nom contient peut-\xC3\xAAtre un "
    "caract\xC3\xA8re "
    "interdit, un fichier porte d\xC3\xA9j\xC3\xA0 ce nom, ou le lecteur n'est pas accessible.\r\rVeuillez "
    "choisir "
    "un autre dossier d'installation.";

// A drive without room for the installation (%s: the drive, the room needed, the room free).
inline constexpr const char* kTextNoRoom =
    "Il n'y a pas assez de place sur le lecteur %s pour l'installation.\r\rEspace n\xC3\xA9"
    "cessaire : %s\rEspace disponible : %s\r\rVeuillez lib\xC3\xA9rer de la place sur ce lecteur ou "
    "choisir un autre dossier d'installation.";

// A folder on the way is a link another user could have made (%s: the link).
inline constexpr const char* kTextLinkInTheWay =
    "Le dossier \"%s\" est un lien (jonction, lien symbolique ou point de montage) qu'un autre "
    "utilisateur a pu cr\xC3\xA9"
    "er.\rL'installation n'\xC3\xA9"
    "crit pas \xC3\xA0 travers un tel lien.\r\r"
    "Veuillez le supprimer ou choisir un autre dossier d'installation.";

// The notice shown while another installation or removal writes (Annuler stops waiting).
inline constexpr const char* kTextWaitingForLock =
    "Une autre installation ou d\xC3\xA9sinstallation est en cours sur cet ordinateur.\r\n"
    "L'installation reprendra d\xC3\xA8s qu'elle sera termin\xC3\xA9"
    "e.";

// The help box of /? and /HELP: the switches and the exit codes.
inline constexpr const char* kTextHelp =
    "Installation : setup.exe [options]\r\n"
    "\r\n"
    "/S, /SILENT, /VERYSILENT, /QUIET\r\n"
    "    installer sans rien afficher ni demander\r\n"
    "/D<dossier>, /D=<dossier>, /DIR=<dossier>\r\n"
    "    dossier d'installation (entre guillemets s'il contient des espaces)\r\n"
    "/NODESKTOP\r\n"
    "    pas de raccourci sur le Bureau\r\n"
    "/ALLUSERS, /CURRENTUSER\r\n"
    "    raccourcis pour tous les utilisateurs, ou pour l'utilisateur courant seulement\r\n"
    "/LOG=<fichier>\r\n"
    "    journal de l'installation (ses dossiers sont créés)\r\n"
    "/LOG\r\n"
    "    journal dans le dossier temporaire (Norvanta-setup-<date>-<heure>.log)\r\n"
    "/?, /HELP\r\n"
    "    cette aide (rien n'est installé)\r\n"
    "\r\n"
    "Codes de sortie :\r\n"
    "0    installé, ou installation annulée dans l'assistant\r\n"
    "1    le traitement de texte est en cours d'exécution : rien n'a été installé\r\n"
    "2    un fichier n'a pas pu être écrit (ce qui l'a été est enregistré)\r\n"
    "3    dossier d'installation refusé : rien n'a été écrit\r\n"
    "217  erreur fatale (programme endommagé ou erreur inattendue)";

// The current language; nothing in this edition changes it.
extern unsigned char CurrentLanguage;

// Text n of the current language (an empty text for a number outside the table).
const char* GetText(int n);
std::wstring GetTextW(int n);
// Title of page 0 to 6.
const char* PageTitle(int page);

// Fills %s placeholders in order (missing arguments are empty) and turns %% into %;
// the result is cut at 4097 bytes.
std::string FormatText(const std::string& format, std::initializer_list<std::string> args);
// Texts 86 and 92 with their two arguments: text 95 and an empty text.
std::string FormattedProductText(int n);
