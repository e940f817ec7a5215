// Interface texts in Russian.
#include "prefs/texts.h"

#include "velmora_version.h"

static const wchar_t Off[] = L"Выкл.";

const wchar_t *const RussianTexts[TextCount] = {
    L"Velmora вер." VELMORA_VERSION_LABEL, // TxtWindowTitle
    L"Файл", // TxtMenuFile
    L"Инструменты", // TxtMenuTools
    L"Помощь", // TxtMenuHelp
    L"Выход", // TxtMenuQuit
    L"Язык", // TxtMenuLanguage
    L"Справка", // TxtMenuHelpItem
    L"О программе...", // TxtMenuAbout
    L"ПОИСК", // TxtSearchButton
    L"Версия: ", // TxtVersionLabel
    L" 1) ИНТЕРФЕЙСЫ: ", // TxtGroupInterfaces
    L" 1) РЕЖИМ РАБОТЫ СЧИТЫВАТЕЛЯ: ", // TxtGroupOperatingMode
    L" 2) УПРАВЛЕНИЕ ИНДИКАЦИЕЙ: ", // TxtGroupIndicationControl
    L"Прямая (активная '1')", // TxtIndicationDirect
    L"Инверсная (активный '0')", // TxtIndicationInverse
    L" 2) ФОРМАТ ВЫВОДА ID КАРТЫ: ", // TxtGroupOutputFormat
    L"HEX или DEC", // TxtHexOrDec
    L" 3) ИНДИКАЦИЯ В ДЕЖУР. РЕЖИМЕ: ", // TxtGroupStandbyIndication
    L"Динамическая", // TxtStandbyDynamic
    L"Статическая", // TxtStandbyStatic
    Off, // TxtStandbyOff
    L" 3) ТИП ВЫВОДА ID КАРТЫ: ", // TxtGroupOutputType
    L" 4) ОПРОС СЕНСОРНОЙ КНОПКИ: ", // TxtGroupTouchButtonPoll
    L"Вкл.", // TxtPollOn
    Off, // TxtPollOff
    L" 4) КОЛИЧЕСТВО БАЙТ ID КАРТЫ: ", // TxtGroupIdByteCount
    L" 5) ЧИТАТЬ КАРТЫ: ", // TxtGroupCardsToRead
    L"СЧИТАТЬ", // TxtReadButton
    L"ЗАПИСАТЬ", // TxtWriteButton
    L"Инд.", // TxtGroupIndicator
    L"Поиск считывателя Tarvik-LNA_LNB", // TxtProgressSearchLnx
    L"Поиск считывателя Tarvik-USB", // TxtProgressSearchUsb
    L"Считывание настроек Tarvik-LNA_LNB", // TxtProgressReadLnx
    L"Считывание настроек Tarvik-USB", // TxtProgressReadUsb
    L"Запись настроек Tarvik-LNA_LNB", // TxtProgressWriteLnx
    L"Запись настроек Tarvik-USB", // TxtProgressWriteUsb
    L"Tarvik-LNA_LNB не найден!", // TxtLnxNotFound
    L"Считыватель Tarvik-LNA_LNB найден!", // TxtLnxFound
    L"Tarvik-USB не найден!", // TxtUsbNotFound
    L"Считыватель Tarvik-USB найден!", // TxtUsbFound
    L"Не удалось распознать ответ!", // TxtReplyUnrecognized
    L"Считыватель не ответил!\n(Попробуйте ещё раз или другой COM-порт).", // TxtNoReply
    L"Неверная команда!", // TxtInvalidCommand
    L"Настройки записаны!", // TxtSettingsWritten
    L"Настройки считаны!", // TxtSettingsRead
    L"Версия прошивки не поддерживается!", // TxtFirmwareUnsupported
    L"ИНТЕРФЕЙС СЧИТЫВАТЕЛЯ - НЕ РАСПОЗНАН!", // TxtBadInterface
    L"УПРАВЛЕНИЕ ИНДИКАЦИЕЙ - НЕ РАСПОЗНАН!", // TxtBadIndicationControl
    L"ИНДИКАЦИЯ В ЖДУЩЕМ РЕЖИМЕ - НЕ РАСПОЗНАН!", // TxtBadStandbyIndication
    L"ОПРОС СЕНСОРНОЙ КНОПКИ - НЕ РАСПОЗНАН!", // TxtBadTouchButtonPoll
    L"РЕЖИМ РАБОТЫ СЧИТЫВАТЕЛЯ - НЕ РАСПОЗНАН!", // TxtBadOperatingMode
    L"ТИП ВЫВОДА ID КАРТЫ - НЕ РАСПОЗНАН!", // TxtBadOutputType
    L"ФОРМАТ ВЫВОДА ID КАРТЫ - НЕ РАСПОЗНАН!", // TxtBadOutputFormat
    L"КОЛИЧЕСТВО БАЙТ ID КАРТЫ - НЕ РАСПОЗНАНО!", // TxtBadIdByteCount
    L"ЧИТАТЬ КАРТЫ - НЕ РАСПОЗНАНО!", // TxtBadCardsToRead
    L"Файл не найден!\n\rПроверьте наличие файла справки (" VELMORA_HELP_FILE_NAME ").", // TxtHelpFileNotFound
    L"Сообщение", // TxtMessageCaption
    L"Не удалось сохранить настройки!\nПерезапустите программу.", // TxtSaveFailed
    L"Не найдены COM-порты в системе!", // TxtNoPorts
    L"Файл справки не возможно открыть!", // TxtHelpNoViewer
    L"Ошибка при открытие", // TxtErrorOpening
    L"Открытие файла справки завершилось неудачей!", // TxtHelpOpenFailed
    L"Код ошибки", // TxtErrorCode
    L"Соединение нарушено.", // TxtConnectionBroken
    L"отключен!", // TxtDisabled
    L"Соединение нарушено.\n\r(Tarvik-USB отключен!)", // TxtUsbDisconnected
    L"Ошибка", // TxtError
    L"при считывание из COM-порта!", // TxtWhenReading
    L"при записи в COM-порт!", // TxtWhenWriting
    L"Если Вы уверены, что считыватель подключен к ПК,\nто выберите COM-порт из списка!", // TxtSelectPortHint
    L"Откройте папку help, где установлено приложение.\n\rПо умолчанию: C:\\Velmora v.x.x\\help", // TxtHelpFolderHint
    L"Установите на ПК программу для просмотра PDF-файлов.", // TxtInstallPdfViewer
};
