#include "CommandLine.h"

#include "PathText.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QLocale>

#include <sys/stat.h>

namespace {

// What a terminal user reads, in both languages. Option names stay as they
// are in either.
struct Texts {
    const char* usage;
    const char* help;
    const char* unknownOption;
    const char* missingValue;
    const char* unexpectedValue;
    const char* needsBatch;
    const char* bothEncryptions;
    const char* bothNamings;
    const char* stdinNeedsEncrypt;
    const char* noItems;
    const char* noPassword;
    const char* passwordUnused;
    const char* emptyOutput;
    const char* emptyItem;
    const char* foreignAddress;
    const char* hint;
    const char* updateCheckTo;
    const char* noUpdateCheck;
};

const Texts kEnglish{
    "Usage: quillmere [OPTION]... [--] [FILE]...\n",
    "Packs files and folders into a ZIP archive that reads correctly on Japanese Windows.\n"
    "Without --batch the window opens and archives the FILEs with the stored options.\n"
    "\n"
    "  -b, --batch         archive the FILEs without a window and exit when done\n"
    "      --output DIR    put the archive into DIR instead of beside the first FILE\n"
    "      --encrypt       protect the archive with the password in QUILLMERE_PASSWORD\n"
    "                      or, with --password-stdin, the first line of standard input\n"
    "      --no-encrypt    no password, whatever the window stored\n"
    "      --password-stdin  read the password from standard input\n"
    "      --name-after-items  name the archive after the single FILE, or after\n"
    "                      the folder that holds several, instead of archive.zip\n"
    "      --no-name-after-items  archive.zip, whatever the window stored\n"
    "      --json          write the report as one JSON object to standard output\n"
    "                      (the other lines go to standard error)\n"
    "  -h, --help          show this help and exit\n"
    "  -v, --version       show the version and exit\n"
    "      --              end of options: every argument after it is a FILE\n"
    "\n"
    "--output, --encrypt, --no-encrypt, --password-stdin, --name-after-items,\n"
    "--no-name-after-items and --json need --batch; with QUILLMERE_PASSWORD set,\n"
    "--batch needs --encrypt or --no-encrypt.\n"
    "Exit status with --batch: 0 archive delivered as given, 1 nothing delivered\n"
    "(or the --json report not written), 3 delivered with renamed or left-out items\n"
    "or Windows warnings; 2 usage error.\n"
    "Ended by a signal (Ctrl+C, kill), it cleans up and then ends by that signal.\n",
    "unknown option",
    "missing value after",
    "no value is taken after",
    "needs --batch",
    "--encrypt and --no-encrypt exclude each other",
    "--name-after-items and --no-name-after-items exclude each other",
    "--password-stdin needs --encrypt",
    "--batch needs at least one FILE",
    "--encrypt needs QUILLMERE_PASSWORD set or --password-stdin",
    "QUILLMERE_PASSWORD is set, but without --encrypt it would not be used: give --encrypt to protect the "
    "archive with it, or --no-encrypt",
    "--output names no folder (an empty argument)",
    "a FILE argument is empty (a variable left unset?)",
    "names no file on this computer (an address of another host, or a broken one):",
    "Try 'quillmere --help' for more information.\n",
    "update check: ",
    "update check: none in this build (no request is ever made)",
};

const Texts kJapanese{
    "使い方: quillmere [オプション]... [--] [ファイル]...\n",
    "ファイルやフォルダを、日本語の Windows で正しく読める ZIP アーカイブにまとめます。\n"
    "--batch がなければウィンドウが開き、保存された設定でファイルを圧縮します。\n"
    "\n"
    "  -b, --batch         ウィンドウを出さずにファイルを圧縮し、終わったら終了する\n"
    "      --output DIR    アーカイブを最初のファイルの隣ではなく DIR に置く\n"
    "      --encrypt       QUILLMERE_PASSWORD のパスワードで保護する\n"
    "                      (--password-stdin のときは標準入力の最初の行)\n"
    "      --no-encrypt    保存された設定にかかわらずパスワードを付けない\n"
    "      --password-stdin  パスワードを標準入力から読む\n"
    "      --name-after-items  archive.zip ではなく、ファイルが一つならその名前、\n"
    "                      複数ならそれを含むフォルダの名前をアーカイブに付ける\n"
    "      --no-name-after-items  保存された設定にかかわらず archive.zip にする\n"
    "      --json          報告を一つの JSON オブジェクトとして標準出力に書く\n"
    "                      (ほかの行は標準エラー出力へ)\n"
    "  -h, --help          このヘルプを表示して終了する\n"
    "  -v, --version       バージョンを表示して終了する\n"
    "      --              オプションの終わり: 以降の引数はすべてファイル\n"
    "\n"
    "--output, --encrypt, --no-encrypt, --password-stdin, --name-after-items,\n"
    "--no-name-after-items, --json には --batch が必要です。QUILLMERE_PASSWORD が\n"
    "設定されているとき、--batch には --encrypt か --no-encrypt が必要です。\n"
    "--batch の終了ステータス: 0 そのまま作成, 1 作成されず (または --json の報告を\n"
    "書き出せず), 3 名前の変更・除外・Windows の警告ありで作成; 2 使い方の誤り。\n"
    "シグナル (Ctrl+C, kill) を受けると、後片付けをしてからそのシグナルで終了します。\n",
    "不明なオプション",
    "値がありません:",
    "値は指定できません:",
    "には --batch が必要です",
    "--encrypt と --no-encrypt は同時に指定できません",
    "--name-after-items と --no-name-after-items は同時に指定できません",
    "--password-stdin には --encrypt が必要です",
    "--batch にはファイルが一つ以上必要です",
    "--encrypt には QUILLMERE_PASSWORD か --password-stdin が必要です",
    "QUILLMERE_PASSWORD が設定されていますが、--encrypt がないと使われません: そのパスワードで保護するには "
    "--encrypt を、保護しないなら --no-encrypt を付けてください",
    "--output のフォルダが空です",
    "空のファイル名が指定されました (設定されていない変数ではありませんか)",
    "このコンピュータのファイルを指していません (ほかのホストのアドレスか、壊れたアドレスです):",
    "詳しくは 'quillmere --help' を実行してください。\n",
    "アップデートの確認: ",
    "アップデートの確認: このビルドでは行いません (通信しません)",
};

// Each byte becomes the character of the same number and back, so names
// that are not UTF-8 pass through the parser unchanged.
QString fromBytes(const std::string& bytes) { return QString::fromLatin1(bytes.data(), qsizetype(bytes.size())); }
std::string toBytes(const QString& text) { return text.toLatin1().toStdString(); }

CommandLine failure(const Texts& texts, const std::string& message)
{
    CommandLine line;
    line.action = CommandLine::Action::Error;
    line.text = "quillmere: " + message + "\n" + texts.hint;
    return line;
}

// A "file:" address that leads to no local file (another host's, or a
// broken one): taken as a relative path, it would be told missing under a
// name no one gave. A relative path spelled like it wins.
bool leadsNowhere(const std::string& argument)
{
    struct stat found {};
    return QByteArray::fromStdString(argument).toLower().startsWith("file:") && !PathText::fromFileAddress(argument)
        && ::lstat(argument.c_str(), &found) != 0;
}

std::string parserError(const Texts& texts, const QCommandLineParser& parser)
{
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().front();
        return std::string(texts.unknownOption) + " '" + (name.size() == 1 ? "-" : "--") + toBytes(name) + "'";
    }
    // The other errors the parser knows: an option without its value, or a
    // value given to one that takes none ("--encrypt=secret"). The parser
    // runs before any translation is loaded, so its text is English.
    const QString error = parser.errorText();
    const qsizetype quote = error.indexOf('\'');
    const std::string option = toBytes(error.mid(quote, error.lastIndexOf('\'') - quote + 1));
    return std::string(error.startsWith("Unexpected") ? texts.unexpectedValue : texts.missingValue) + " " + option;
}

// Options that only make sense for a job run without the window.
std::optional<std::string> batchOnlyOption(const QCommandLineParser& parser)
{
    for (const char* name :
         {"output", "encrypt", "no-encrypt", "password-stdin", "name-after-items", "no-name-after-items", "json"})
        if (parser.isSet(QString::fromLatin1(name)))
            return std::string("--") + name;
    return std::nullopt;
}

std::string versionText(const Texts& texts, const std::string& version, const std::string& updateEndpoint)
{
    return "quillmere " + version + "\n"
        + (updateEndpoint.empty() ? std::string(texts.noUpdateCheck) : texts.updateCheckTo + updateEndpoint) + "\n";
}

} // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& arguments, const Context& context)
{
    const Texts& texts = context.language == Language::Japanese ? kJapanese : kEnglish;
    QCommandLineParser parser;
    parser.addOptions({
        {{"h", "help"}, {}},
        {{"v", "version"}, {}},
        {{"b", "batch"}, {}},
        {"output", {}, "DIR"},
        {"encrypt", {}},
        {"no-encrypt", {}},
        {"password-stdin", {}},
        {"name-after-items", {}},
        {"no-name-after-items", {}},
        {"json", {}},
    });
    QStringList words{QStringLiteral("quillmere")};
    for (const std::string& argument : arguments)
        words << fromBytes(argument);
    if (!parser.parse(words))
        return failure(texts, parserError(texts, parser));

    CommandLine line;
    if (parser.isSet("help")) {
        line.action = Action::Help;
        line.text = std::string(texts.usage) + texts.help;
        return line;
    }
    if (parser.isSet("version")) {
        line.action = Action::Version;
        line.text = versionText(texts, context.version, context.updateEndpoint);
        return line;
    }
    const bool batch = parser.isSet("batch");
    if (const std::optional<std::string> option = batchOnlyOption(parser); option && !batch)
        return failure(texts, *option + " " + texts.needsBatch);
    if (parser.isSet("encrypt") && parser.isSet("no-encrypt"))
        return failure(texts, texts.bothEncryptions);
    if (parser.isSet("name-after-items") && parser.isSet("no-name-after-items"))
        return failure(texts, texts.bothNamings);
    if (parser.isSet("password-stdin") && !parser.isSet("encrypt"))
        return failure(texts, texts.stdinNeedsEncrypt);
    // A password is never taken from an argument, where every user of the
    // machine could read it.
    if (parser.isSet("encrypt") && !parser.isSet("password-stdin") && !context.passwordVariableSet)
        return failure(texts, texts.noPassword);
    // Without --encrypt the job goes by the stored options: no password, or
    // the window's, which is not the one the user means to tell the
    // receiver.
    if (batch && context.passwordVariableSet && !parser.isSet("encrypt") && !parser.isSet("no-encrypt"))
        return failure(texts, texts.passwordUnused);
    // Most often a variable a script left unset: the archive would go
    // elsewhere without a word.
    if (parser.isSet("output") && parser.value("output").isEmpty())
        return failure(texts, texts.emptyOutput);
    if (const std::string output = toBytes(parser.value("output")); leadsNowhere(output))
        return failure(texts, std::string(texts.foreignAddress) + " " + output);
    // An empty argument would stand for the working folder, which no one
    // means to archive. From a script it is most often a variable left
    // unset: the archive would lack an item without a word.
    for (const QString& item : parser.positionalArguments()) {
        if (item.isEmpty()) {
            if (batch)
                return failure(texts, texts.emptyItem);
            continue;
        }
        const std::string bytes = toBytes(item);
        if (leadsNowhere(bytes))
            return failure(texts, std::string(texts.foreignAddress) + " " + bytes);
        line.items.push_back(bytes);
    }
    if (batch && line.items.empty())
        return failure(texts, texts.noItems);

    line.action = batch ? Action::Batch : Action::Window;
    line.outputFolder = toBytes(parser.value("output"));
    if (parser.isSet("encrypt") || parser.isSet("no-encrypt"))
        line.encrypt = parser.isSet("encrypt");
    if (parser.isSet("name-after-items") || parser.isSet("no-name-after-items"))
        line.nameAfterItems = parser.isSet("name-after-items");
    line.passwordFromStdin = parser.isSet("password-stdin");
    line.json = parser.isSet("json");
    return line;
}

CommandLine::Language CommandLine::languageOfLocale()
{
    return QLocale::system().language() == QLocale::Japanese ? Language::Japanese : Language::English;
}
