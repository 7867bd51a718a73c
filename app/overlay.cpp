#include "app/overlay.h"

#include "runtime/paths.h"

namespace rv {

std::vector<OverlayLine> overlayLines(const Model* model) {
    std::vector<OverlayLine> lines;
    if (model) {
        const std::string name = sjisToUtf8(model->fileName).value_or(model->fileName);
        lines.push_back({10, 15, false, "ファイル名 : " + name});
        lines.push_back({10, 40, false, "ポリゴン　 : " + std::to_string(model->polygonCount())});
        lines.push_back({10, 60, false, "グループ　 : " + std::to_string(model->groupCount())});
        lines.push_back({10, 80, false, "テクスチャ : " + std::to_string(model->textureCount())});
    }
    lines.push_back({12, 50, true, "変換後の拡張子を選択して、複数ファイルをドラッグ＆ドロップで"});
    lines.push_back({12, 25, true, "コンバートできるようになりました。( KZP形式の場合、最新版にコンバート )"});
    return lines;
}

}  // namespace rv
