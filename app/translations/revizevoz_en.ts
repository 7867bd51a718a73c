<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>rv::MainWindow</name>
    <message>
        <source>変換 %1 / %2 : %3</source>
        <translation>Converted %1 / %2 : %3</translation>
    </message>
    <message>
        <source>ファイル</source>
        <translation>File</translation>
    </message>
    <message>
        <source>読み込み</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>読み込み ( KZP -&gt; 2004 ～ 2009 )</source>
        <translation>Open ( KZP -&gt; 2004 to 2009 )</translation>
    </message>
    <message>
        <source>読み込み ( DXF )</source>
        <translation>Open ( DXF )</translation>
    </message>
    <message>
        <source>読み込み ( LWO -&gt; LightWave 5.6 )</source>
        <translation>Open ( LWO -&gt; LightWave 5.6 )</translation>
    </message>
    <message>
        <source>読み込み ( MQO -&gt; メタセコイア 2.2.3～4.4.3 )</source>
        <translation>Open ( MQO -&gt; Metasequoia 2.2.3 to 4.4.3 )</translation>
    </message>
    <message>
        <source>読み込み ( MX -&gt; HSP 2.55 )</source>
        <translation>Open ( MX -&gt; HSP 2.55 )</translation>
    </message>
    <message>
        <source>読み込み ( ROK -&gt; 六角大王 5.25 )</source>
        <translation>Open ( ROK -&gt; Rokkaku Daioh 5.25 )</translation>
    </message>
    <message>
        <source>読み込み ( X -&gt; DirectX 9.0 )</source>
        <translation>Open ( X -&gt; DirectX 9.0 )</translation>
    </message>
    <message>
        <source>読み込み ( glTF -&gt; glTF 2.0 )</source>
        <translation>Open ( glTF -&gt; glTF 2.0 )</translation>
    </message>
    <message>
        <source>読み込み ( OBJ -&gt; Wavefront )</source>
        <translation>Open ( OBJ -&gt; Wavefront )</translation>
    </message>
    <message>
        <source>最近使ったファイル</source>
        <translation>Recent files</translation>
    </message>
    <message>
        <source>　保存　  ( KZP 2009 -&gt; DE Reziru )</source>
        <translation>Save ( KZP 2009 -&gt; DE Reziru )</translation>
    </message>
    <message>
        <source>　保存　  ( LWO -&gt; LightWave 5.6 )</source>
        <translation>Save ( LWO -&gt; LightWave 5.6 )</translation>
    </message>
    <message>
        <source>　保存　  ( MX -&gt; HSP 2.55 )</source>
        <translation>Save ( MX -&gt; HSP 2.55 )</translation>
    </message>
    <message>
        <source>　保存　  ( X -&gt; DirectX 9.0 )</source>
        <translation>Save ( X -&gt; DirectX 9.0 )</translation>
    </message>
    <message>
        <source>　保存　  ( glTF 2.0 )</source>
        <translation>Save ( glTF 2.0 )</translation>
    </message>
    <message>
        <source>　保存　  ( OBJ )</source>
        <translation>Save ( OBJ )</translation>
    </message>
    <message>
        <source>　保存　  ( MQO -&gt; メタセコイア )</source>
        <translation>Save ( MQO -&gt; Metasequoia )</translation>
    </message>
    <message>
        <source>　保存　  ( 変換後パネルの形式 )</source>
        <translation>Save ( the format chosen in the panel )</translation>
    </message>
    <message>
        <source>変換後パネルを表示</source>
        <translation>Show the conversion panel</translation>
    </message>
    <message>
        <source>　終了</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>最新版のダウンロードはこちらへ</source>
        <translation>Download the latest version</translation>
    </message>
    <message>
        <source>ヘルプ</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>キーとマウスの操作</source>
        <translation>Keys and mouse</translation>
    </message>
    <message>
        <source>ファイルが見つかりません。最近使ったファイルから外しました。
%1</source>
        <translation>The file was not found and has been removed from the recent files.
%1</translation>
    </message>
    <message>
        <source>右ボタンでドラッグ : 回転
中ボタンでドラッグ : 移動
ホイール : 拡大・縮小
Home : モデル全体を表示
F2 : アンチエイリアスの切り替え
F3 : シェーダーの切り替え
F5 : 表示の更新
Esc : 確認せずに終了
Ctrl+O : 読み込み
Ctrl+S : 変換後パネルの形式で保存
Ctrl+Q : 終了
ファイルのドラッグ＆ドロップ : 変換後パネルの形式に変換</source>
        <translation>Drag with the right button : orbit
Drag with the middle button : pan
Wheel : zoom
Home : show the whole model
F2 : anti-aliasing on or off
F3 : shader mode on or off
F5 : redraw
Esc : quit without asking
Ctrl+O : open
Ctrl+S : save in the panel's format
Ctrl+Q : quit
Drop files : convert them to the panel's format</translation>
    </message>
    <message>
        <source>%1

上限に収まるようにポリゴンを減らして読み込みますか？</source>
        <translation>%1

Reduce its polygons to fit the limits and load it?</translation>
    </message>
    <message>
        <source>終了してもいいですか？</source>
        <translation>Do you want to quit?</translation>
    </message>
    <message>
        <source>名前を付けてファイルに保存</source>
        <translation>Save the file as</translation>
    </message>
    <message>
        <source>変換中 %1 / %2 : %3 (残り %4)</source>
        <translation>Converting %1 / %2 : %3 (%4 left)</translation>
    </message>
    <message>
        <source>変換終了 %1 ファイル</source>
        <translation>Conversion finished: %1 files</translation>
    </message>
    <message>
        <source>変換 %1 / %2</source>
        <translation>Converted %1 / %2</translation>
    </message>
    <message>
        <source>アンチエイリアス %1 / シェーダー %2</source>
        <translation>Anti-aliasing %1 / shader mode %2</translation>
    </message>
    <message>
        <source>読み込むファイルを選択して下さい</source>
        <translation>Choose the file to open</translation>
    </message>
    <message>
        <source>読み込む KZP ファイルを選択して下さい</source>
        <translation>Choose the KZP file to open</translation>
    </message>
    <message>
        <source>読み込む DXF ファイルを選択して下さい</source>
        <translation>Choose the DXF file to open</translation>
    </message>
    <message>
        <source>読み込む LWO ファイルを選択して下さい</source>
        <translation>Choose the LWO file to open</translation>
    </message>
    <message>
        <source>読み込む MQO ファイルを選択して下さい</source>
        <translation>Choose the MQO file to open</translation>
    </message>
    <message>
        <source>読み込む MX ファイルを選択して下さい</source>
        <translation>Choose the MX file to open</translation>
    </message>
    <message>
        <source>読み込む ROK ファイルを選択して下さい</source>
        <translation>Choose the ROK file to open</translation>
    </message>
    <message>
        <source>読み込む X ファイルを選択して下さい</source>
        <translation>Choose the X file to open</translation>
    </message>
    <message>
        <source>読み込む glTF ファイルを選択して下さい</source>
        <translation>Choose the glTF file to open</translation>
    </message>
    <message>
        <source>読み込む OBJ ファイルを選択して下さい</source>
        <translation>Choose the OBJ file to open</translation>
    </message>
    <message>
        <source>新規.KZP</source>
        <translation>new.KZP</translation>
    </message>
    <message>
        <source>新規.lwo</source>
        <translation>new.lwo</translation>
    </message>
    <message>
        <source>新規.mx</source>
        <translation>new.mx</translation>
    </message>
    <message>
        <source>新規.x</source>
        <translation>new.x</translation>
    </message>
    <message>
        <source>新規.glb</source>
        <translation>new.glb</translation>
    </message>
    <message>
        <source>新規.obj</source>
        <translation>new.obj</translation>
    </message>
    <message>
        <source>新規.mqo</source>
        <translation>new.mqo</translation>
    </message>
    <message>
        <source>ファイル名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>ポリゴン　</source>
        <translation>Polygons</translation>
    </message>
    <message>
        <source>グループ　</source>
        <translation>Groups</translation>
    </message>
    <message>
        <source>テクスチャ</source>
        <translation>Textures</translation>
    </message>
    <message>
        <source>変換後の拡張子を選択して、複数ファイルをドラッグ＆ドロップで</source>
        <translation>Choose the target format in the panel, then drag and drop any number of files</translation>
    </message>
    <message>
        <source>コンバートできるようになりました。( KZP形式の場合、最新版にコンバート )</source>
        <translation>onto this window to convert them. ( KZP files come out in the newest revision )</translation>
    </message>
    <message>
        <source>		MQO ( メタセコイア 2.2.3 )</source>
        <translation>		MQO ( Metasequoia 2.2.3 )</translation>
    </message>
    <message>
        <source>		ROK ( 六角大王 5.25 )</source>
        <translation>		ROK ( Rokkaku Daioh 5.25 )</translation>
    </message>
    <message>
        <source>		すべてのファイル</source>
        <translation>		All files</translation>
    </message>
    <message>
        <source>対応するすべての形式</source>
        <translation>All supported formats</translation>
    </message>
    <message>
        <source>初期化に失敗しました。</source>
        <translation>The preview could not be started.</translation>
    </message>
</context>
<context>
    <name>rv::ConversionPanel</name>
    <message>
        <source>変換後</source>
        <translation>Convert to</translation>
    </message>
</context>
</TS>
