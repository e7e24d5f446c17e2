// The system's own texts.  Sources are UTF-8; the compiler stores them as Shift-JIS bytes.
#ifndef KORVALE_RTL_MESSAGES_H
#define KORVALE_RTL_MESSAGES_H

namespace msg {
inline constexpr const char kInvalidBitmap[] = "ビットマップイメージが不正です";
inline constexpr const char kInvalidIcon[] = "アイコンイメージが不正です";
inline constexpr const char kInvalidMetafile[] = "メタファイルが不正です";
inline constexpr const char kReadError[] = "ストリームからの読み込みエラー";
inline constexpr const char kWriteError[] = "ストリームへの書き込みエラー";
inline constexpr const char kFOpenError[] = "ファイル %s は開けません";
inline constexpr const char kFCreateError[] = "ファイル %s を作成できません";
inline constexpr const char kListIndexError[] = "リストのインデックスが範囲を超えています (%d)";
inline constexpr const char kAssignError[] = "%s を %s に代入することはできません";
inline constexpr const char kHelperCannotStart[] = "プラグインヘルパー %s を起動できません";
// Why a plug-in found by the search is left out: its bitness (32 or 64) cannot run here (or
// kHelperCannotStart: the helper of its bitness cannot be started).
inline constexpr const char kSPIBitnessNotRun[] = "%sビットのプラグインはこのシステムでは実行できません";
inline constexpr const char kUnknownExtension[] = "拡張子 .%s の画像形式は処理できません";
inline constexpr const char kOSError[] = "システムエラー。コード：%d.\r\n%s";
inline constexpr const char kOutOfMemory[] = "メモリが不足しています";
inline constexpr const char kInvalidFileName[] = "不正なファイル名 - %s";
inline constexpr const char kInsertLineError[] = "行を挿入できません";
// EInOutError texts by system error code.
inline constexpr const char kFileNotFound[] = "ファイルが見つかりません";
inline constexpr const char kInvalidFilename[] = "不正なファイル名です";
inline constexpr const char kTooManyOpenFiles[] = "オープンしたファイルが多すぎます";
inline constexpr const char kAccessDenied[] = "ファイルへのアクセスが拒否されました";
inline constexpr const char kEndOfFile[] = "ファイルの末尾以降を読み込みました";
inline constexpr const char kDiskFull[] = "ディスクがいっぱいです";
inline constexpr const char kInvalidInput[] = "入力値が数値ではありません";
inline constexpr const char kInOutError[] = "I/O エラー (%d)";
// The fatal error box of an exception that escapes while the main window is built.
inline constexpr const char kFatalCaption[] = "アプリケーション エラー";
inline constexpr const char kFatalText[] = "%s がモジュール %s の %p で発生しました。";
}  // namespace msg

#endif
