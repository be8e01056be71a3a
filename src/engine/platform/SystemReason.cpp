#include "engine/platform/SystemReason.h"

#include <cerrno>

namespace engine {

std::string systemReason(int error)
{
    switch (error) {
    case 0: return {};
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return "容量が不足しています";
    case EACCES:
    case EPERM: return "アクセスが拒否されました";
    case EROFS: return "読み取り専用の場所です";
    case ENAMETOOLONG: return "パスが長すぎます";
    case EBUSY:
    case ETXTBSY: return "ほかのプログラムが使用中です";
    case ENOENT: return "ファイルまたはフォルダーが見つかりません";
    case ENOTDIR: return "パスの途中がフォルダーではありません";
    case EISDIR: return "フォルダーです";
    case EEXIST: return "同じ名前のファイルがあります";
    case EMFILE:
    case ENFILE: return "開いているファイルが多すぎます";
    case ENOMEM: return "メモリが不足しています";
    case EFBIG: return "ファイルが大きすぎます";
    case EIO: return "入出力エラーが発生しました";
    case EXDEV: return "別のドライブには移動できません";
    case EAGAIN: return "システムの資源が一時的に不足しています";
    case EINVAL: return "システムが受け付けない操作です";
    case EOPNOTSUPP:
#if defined(ENOTSUP) && ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
    case ENOSYS: return "このファイルシステムでは使えない操作です";
    case EFAULT: return "元のファイルが読めなくなりました";
#ifdef ESTALE
    case ESTALE: return "ネットワーク上のファイルが見つからなくなりました";
#endif
    default: return "システムエラー " + std::to_string(error);
    }
}

}  // namespace engine
