#include "commands/model_command.h"

#include <cstdio>
#include <filesystem>

#include "download/model_import.h"
#include "recognition/dictation_engine_store.h"
#include "ui/instance_channel.h"

namespace talvoro {

bool runModel(const CommandContext& context) {
    const std::vector<std::string> words = context.args.positionalArguments();
    if (words.size() != 2 || words[0] != "import")
        fail("нужно: talvoro model import ПАПКА — папка с файлами модели под их исходными "
             "именами (v3_e2e_rnnt_encoder.int8.onnx …)");
    const std::string from = std::filesystem::absolute(words[1]).string();
    const std::string folder = DictationEngineStore::modelFolder(context.config);
    try {
        importModel(from, folder, modelParts(context.config));
    } catch (const ModelManifestError& error) {
        fail(error.what());
    } catch (const ModelImportError& error) {
        fail(std::string("модель не установлена: ") + error.what());
    }
    std::printf("модель установлена в %s\n", folder.c_str());
    const auto answer = InstanceChannel::send(InstanceChannel::modelInstalled);
    if (!answer)
        std::printf("Тальворо не запущено — модель подхватится при запуске\n");
    else if (*answer != "ok")
        fail(*answer);
    else
        std::printf("запущенное Тальворо распознаёт ею\n");
    return true;
}

} // namespace talvoro
