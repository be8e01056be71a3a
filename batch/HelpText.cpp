#include "batch/CommandLine.h"

namespace batch {

const char* helpText()
{
    return R"(使い方:
  zrvimage-batch crop IN.bmp... (-o OUT.bmp | --out-dir DIR) [--force] [-j N]
  zrvimage-batch maxima IN.bmp... --rect X1,Y1,X2,Y2 [--json] [-j N]
  zrvimage-batch ndvi IN.bmp... --nir-white N --red-white N (-o OUT.raw | --out-dir DIR)
                 [--panel-reflectance NIR,RED] [--dark NIR,RED [--dark-reflectance NIR,RED]]
                 [--tiff [--tiff-level N] | --envi-header] [--preview PNG | --preview-dir DIR] [--stats] [--json]
                 [--index NAME[:PARAM]] [--force] [-j N]
  zrvimage-batch ndvi IN.bmp... --calibration CAL.json (-o OUT.raw | --out-dir DIR) [...]
  zrvimage-batch ndvi IN.bmp... --regions REGIONS.json [--white-from max|mean|p99]
                 [--panel-reflectance NIR,RED] [--dark-reflectance NIR,RED] (-o OUT.raw | --out-dir DIR) [...]
  zrvimage-batch calibrate FRAME.bmp --white-rect X1,Y1,X2,Y2 -o CAL.json
                 [--white-from max|mean|p99] [--dark-rect X1,Y1,X2,Y2]
                 [--panel-reflectance NIR,RED] [--dark-reflectance NIR,RED] [--strict] [--force]
  zrvimage-batch calibrate FRAME.bmp --regions REGIONS.json -o CAL.json [--white-from max|mean|p99]
                 [--panel-reflectance NIR,RED] [--dark-reflectance NIR,RED] [--strict] [--force]
  zrvimage-batch series FRAME.bmp... --regions REGIONS.json --csv OUT.csv
                 [--calibration CAL.json | --nir-white N --red-white N] [--white-from max|mean|p99]
                 [--panel-reflectance NIR,RED] [--dark-reflectance NIR,RED]
                 [--time mtime|name:PATTERN] [--index NAME[:PARAM]] [--overlay-dir DIR] [--strict] [--json]
                 [--force] [-j N]
  zrvimage-batch series --project SEASON.json --csv OUT.csv [--overlay-dir DIR] [--strict] [--json] [--force] [-j N]
  zrvimage-batch anchor FRAME.bmp --regions IN.json -o OUT.json [--force]
  zrvimage-batch tags --ids 0-3,7 --size-mm MM -o SHEET.svg|SHEET.png [--force]
  zrvimage-batch flatfield FLAT.bmp... [--dark-frame DARK.bmp] -o FF.tif [--json] [--force]
  zrvimage-batch phenology SEASON.csv... -o DATES.csv [--index-column ndvi_mean] [--png DIR] [--force]
  zrvimage-batch tidy DIR...

MIRVALEN－ZRV画像処理ソフトの三つの処理を、複数の24ビットBMPファイルにまとめて行います。
出力はウィンドウで実行したときとバイト単位で同じです。

サブコマンド:
  crop     切り出し（2048×1536)：各行の左端から2048画素を残した24ビットBMPを書き出します。
  maxima   エリア最大値算出：矩形内の Red・Green・Blue の最大値を、1ファイル1行
           （パス、Red、Green、Blue）で標準出力に書きます。
  ndvi     NDVI画像（Float-RAW）作成：各画素のNDVIを、ヘッダのない float32 RAWファイル
           （上の行から、リトルエンディアン）に書き出します。NIRとRが共にゼロの画素は -10 です。
           --tiff では float32 TIFF に書き出します。
  calibrate 白色板（と暗色板）を写したフレームの矩形から較正ファイル（JSON）を作り、校正モデルを
           標準出力に書きます。白色板の値は矩形内の NIR（Red バイト）と Red（Green バイト）の
           最大値（--white-from で平均、99 パーセンタイルも）、暗色板の値は矩形内の平均です。
           白色板の矩形に 255 の画素がある、変動係数が 3 % を超える、白色板の値が 100 未満の
           ときと、暗色板の矩形に 255 の画素がある、標準偏差が平均の 15 % と 2 の両方を超える
           （土や草などが入っている）、暗色板の値が白色板の値の半分を超えるときは、その警告を
           標準エラー出力に書きます。
  series   同じ場所から撮った一連のフレームについて、領域ファイルの領域（role のない領域）ごとの
           NDVI の平均・標準偏差・最小値・5/50/95 パーセンタイル・最大値、-10 の画素数、NIR と
           Red の平均、255 の画素数を、1フレーム1領域1行の CSV ファイルに書きます。各フレームは
           そのフレームの白色板（role が white）と暗色板（role が dark）の領域から calibrate と
           同じ規則で較正します（--calibration か --nir-white と --red-white では全フレーム同じ
           較正）。行はフレームの時刻順、同じ時刻ではパス順です。読めないフレーム、領域がはみ出す
           フレーム、名前が --time の形に合わないフレームは、そのフレームだけが失敗になります。
           列 panel_warning には白色板（saturated、uneven、dim）と暗色板（dark_saturated、
           dark_uneven、dark_bright）の外れた確認を ; で区切って、列 nir_dark と red_dark には
           使った暗色板の値（小数のまま、暗色板がなければ空）を書きます。成功したフレームが
           一つもないときは CSV ファイルを書きません（既存のファイルはそのまま）。全フレームの
           更新日時が 10 秒以内に収まっているときは、時刻が撮影日時ではないおそれを警告し、
           --time name:PATTERN を勧めます。
  flatfield 一様に照らした白い面（拡散板越しの曇り空、日陰のつや消しの白い壁）をいつもの設定で
           撮った数枚の画像を平均し、バンドごとに周辺減光のモデル（中心を自由にした半径の多項式）を
           当てはめて、NIR と Red の利得の 2 バンド float32 TIFF を書きます。--dark-frame の
           画像（レンズにふたをして撮影）の平均を各バンドのオフセットとして差し引きます。
           バンドごとに四隅の減光 (%) と RMS 残差 (%) を書き、画像に 255 の画素があるとき、
           残差が 2 % を超えるときは警告します。大きさの違う画像は使えません。
  anchor   領域ファイルをマーカー（AprilTag、tag36h11）に固定します。領域を描いた基準フレームで
           マーカーを探し、markers の field に挙げた圃場のマーカーの四隅を基準として、領域ファイル
           全体を -o のファイルに書きます。見つけたマーカーを一つ一行（番号、圃場のマーカーか、
           中心の座標）で標準出力に書きます。圃場のマーカーが二つ以上見つからないときは、見つから
           ないマーカーの番号を書き、何も書かずに終了ステータス 1 で終わります。固定した領域ファイル
           を series に渡すと、各フレームで見つけたマーカーから領域を置き直します（手持ちで撮った
           フレームや、毎回置き直す白色板にも使えます）。series の CSV ファイルには、位置合わせに
           使った圃場のマーカーの数 markers_found と、その残差 registration_rms_px（画素）の列が
           加わります。マーカーが足りず領域を置けないフレームは、そのフレームだけが失敗になります。
  tags     マーカーを印刷する A4 のシート（SVG は mm 単位、PNG は 300 dpi の 2480×3508 画素）を
           書きます。1 枠に 1 個、番号と大きさを下に、50 mm の目盛りを下端に描きます。黒い枠の外側
           の一辺が --size-mm になり、その外側に 1 マス分の白い余白が付きます。1 枚に収まらない
           数のマーカーは、収まる数を書いて使い方の誤り（終了ステータス 2）になります。
  phenology series の CSV ファイル（複数のフォルダの表を一つのシーズンとして）から、領域ごとに
           季節の曲線を当てはめ、生育の日付を書きます。白色板か暗色板の確認に外れたフレーム
           （panel_warning のある行）は使わず、誰も印を付けていない外れ値（雲の影など）は頑健な
           当てはめで除きます。曲線は立ち上がりと下降の二つのロジスティック曲線（それぞれに基底）、
           それより明らかによく合うときは平滑化スプラインです。撮影のない数週間は曲線でつなぎます。
           日付は立ち上がりの振幅の 10・50・90 %（start_of_season、mid_greenup、maturity）、
           peak、下降の振幅の 90・50・10 %（senescence、mid_senescence、end_of_season）で、
           残差のブートストラップによる 5〜95 % の区間を付けます。出力は 1 行 1 日付の CSV
           （region,metric,date,low,high,value,method、日付は series の時刻の形、value はその
           日付での曲線の値、method は double_logistic か spline）です。曲線が撮影期間の中で
           その水準を横切らない日付、振幅が雑音の範囲内の立ち上がりや下降の日付は空欄で、
           method 列にその理由を書きます。季節の変化のない領域は metric が none の 1 行で、
           理由を method 列に書きます。区間が求まらない日付は区間を空欄にし、標準エラー出力に
           書きます。
  tidy     強制終了や停電で中断された書き込みを、各フォルダで片付けます。途中まで置き換えた
           ファイルの組は新しいものにそろえ、残った一時ファイルを削除し、一組一行で書きます。
           実行中のプログラムのファイルには触れません。どのコマンドも、フォルダに書き込む前に
           同じ片付けをします。

オプション:
  -o FILE             出力ファイル（入力ファイルが一つのときだけ）。
  --out-dir DIR       出力フォルダ。出力名は入力名から付けます（frame01.bmp → frame01.raw）。
  --rect X1,Y1,X2,Y2  左上座標（x,y) と 右下座標（x,y）。x は左端から、y は上端から数えます。
  --nir-white N       白色板 NIR (Max:255)。1 以上。
  --red-white N       白色板 Red (Max:255)。1 以上。
  --panel-reflectance NIR,RED
                      白色板の反射率（0 から 1 の小数、小数点以下3桁まで、例: 0.92,0.90）。
                      白色板のメーカーの校正表から、カメラの NIR と Red の波長での値を
                      読みます。既定: 1,1。
  --dark NIR,RED      暗色板の値（NIR と Red、0 以上の整数、または calibrate が書く小数 10.85 の形）。
                      maxima で暗色板の矩形を調べた値です。白色板の値より小さくなければなりません。
  --dark-reflectance NIR,RED
                      暗色板の反射率（0 から 1 の小数、小数点以下3桁まで）。--dark と一緒に
                      指定します。既定: 0,0。
  --calibration CAL.json
                      ndvi の校正モデルを較正ファイルから読みます。--nir-white、--red-white、
                      --panel-reflectance、--dark、--dark-reflectance とは同時に使えません。
                      出力は同じ値をそれらのオプションで指定したときとバイト単位で同じです。
                      series ではフレームの白色板の代わりに、全フレームをこの較正で計算します。
  --white-rect X1,Y1,X2,Y2
                      calibrate: 白色板の矩形（--rect と同じく角を含み、画像の内側）。
  --white-from max|mean|p99
                      calibrate、series、ndvi（--regions と一緒に）: 白色板の値の取り方。max は最大値（既定）、mean は平均の四捨五入、
                      p99 は 99 % の画素がそれ以下になる最小の値です。どれも 1 から 255 に収めます。
  --dark-rect X1,Y1,X2,Y2
                      calibrate: 暗色板の矩形。暗色板の値は平均（小数のまま、0 から 254）です。
                      calibrate の --dark-reflectance はこれと一緒に指定します。
  --regions REGIONS.json
                      series: 領域ファイル（名前付きの矩形 rect と多角形 polygon、role で白色板と
                      暗色板）。ビューアの 領域を保存… で書けます。anchor: マーカーに固定する領域
                      ファイル。ndvi、calibrate: --nir-white と --red-white、--white-rect と
                      --dark-rect の代わりに、この領域ファイルの白色板（と暗色板）の領域を、マーカーで
                      各フレームに置いて読み、series と同じ規則でそのフレームの較正にします。calibrate
                      は置いた領域を囲む矩形を較正ファイルに記録します。
  --overlay-dir DIR   series: 領域を置けたフレームごとに、縮小した（長辺 1024 画素まで）フォルス
                      カラー画像に、見つけたマーカー（黄、番号付き）と置いた領域（名前付き、区画は
                      水色、白色板は青、暗色板は橙）を描いた PNG を、このフォルダにフレーム名.png
                      で書きます。
  --ids 0-3,7         tags: 印刷するマーカーの番号（0 から 586）。範囲は - で、区切りは , です。
  --size-mm MM        tags: マーカーの黒い枠の外側の一辺 (mm)。写真の中で 60 画素以上になる
                      大きさにしてください。
  --csv OUT.csv       series: 出力する CSV ファイル。全フレームを処理してからまとめて書きます。
  --project SEASON.json
                      series: シーズンのプロジェクトファイル（ビューアーで保存したもの）。フレームの
                      フォルダー（frames）の BMP ファイル全部を、プロジェクトの領域、時刻、較正、
                      周辺減光補正で計算します。同じ内容をオプションで指定したときと同じ表になります。
                      フレームや --regions、--time、較正のオプション、--flatfield とは同時に使えません。
  --time mtime|name:PATTERN
                      series: フレームの時刻。mtime はファイルの更新日時（既定）、name:PATTERN は
                      ファイル名の先頭を %Y %m %d %H %M %S（%% は %）の形で読みます
                      （例: name:cam_%Y%m%d_%H%M%S は cam_20260601_083000.bmp を読みます）。
  --flatfield FF.tif  ndvi、calibrate、series: 各バンドの値を 周辺減光補正ファイルで
                      オフセット + (値 - オフセット) ÷ 利得 に補正してから、白色板と暗色板を読み、
                      反射率を求めます。画像と大きさの違うファイルは使えません。calibrate は
                      較正ファイルにこのファイルを記録し、その較正ファイルは --flatfield と
                      一緒にだけ使えます。
  --dark-frame DARK.bmp
                      flatfield: レンズにふたをして撮った画像。
  --index NAME[:PARAM]
                      ndvi、series: NDVI の代わりに求める指数。ndvi（既定）、sr、dvi、rdvi、
                      savi[:L]、osavi、msavi2、evi2、wdrvi[:a]、nli、mnli[:L]、tdvi のいずれか。
                      L と a は 0 から 1 まで（既定: L=0.5、a=0.2）。値は較正後の NIR と Red の
                      反射率から求め、値のない画素（両バンドが 0、0 での割り算、負の数の平方根）
                      は -10 です。series の表の列は指数の名前（savi_mean など）になります。
                      カラー画像（--preview、--preview-dir）は NDVI だけです。
  --index-column COL  phenology: 曲線を当てはめる季節表の列（既定: ndvi_mean）。
  --png DIR           phenology: 領域ごとのグラフ（点、外れた白色板のフレームは白抜き、頑健な
                      当てはめが除いた点は ×、曲線、日付とその区間）を、領域名から付けた名前
                      （.png）でこのフォルダに書きます。日付の表と一緒に置き換えます。
  --strict            calibrate: 警告があれば較正ファイルを書かず、終了ステータス 1 で終わります。
                      series: 白色板か暗色板の確認に外れたフレームを表から除き（それぞれ標準
                      エラー出力に書きます）、終了ステータス 1 で終わります。
  --tiff              RAWファイルの代わりに、1バンドの float32 TIFF（DEFLATE 圧縮、浮動小数点
                      予測子、-10 を NoData として GDAL のタグに記録、説明タグに校正モデル）を
                      書きます。--out-dir の出力名は .tif です。GDAL、QGIS、ImageJ でそのまま
                      開けます。--envi-header とは同時に使えません。
  --tiff-level N      --tiff の DEFLATE 圧縮レベル（1 から 12、既定: 2）。大きいほど遅く、
                      ファイルはわずかに小さくなります。値はどのレベルでも同じです。
  --envi-header       RAWファイルの隣に ENVI ヘッダ（.hdr）を書きます。GDAL や QGIS で
                      RAWファイルを直接開けます。description に校正モデルを書きます。
  --preview PNG       NDVIのカラー画像（PNG、-1 赤 … 0 黄 … +1 緑、-10 の画素は透明、
                      下端にカラーバー）を書きます（入力ファイルが一つのときだけ）。
  --preview-dir DIR   カラー画像をこのフォルダに、入力名から付けた名前（.png）で書きます。
  --stats             ファイルごとに -10 の画素数と、それ以外の画素の最小値・最大値・平均・
                      標準偏差、-1 から +1 までを20区間に分けたヒストグラムと、校正モデル
                      （model=nir:白色板の値,反射率,暗色板の値,反射率;red:…）を書きます。
  --json              結果を1ファイル1行の JSON で書きます（ndvi では校正モデルも "model" に）。
                      series では最後に1行（CSV ファイル、フレーム数、失敗したフレーム、領域数、
                      行数）を書きます。
                      パスのうち UTF-8 として正しくないバイト列は \ufffd（�）に置き換えます。
  --force             既存の出力ファイルを上書きします。指定がなく既存の出力ファイルが
                      あるときは、処理を始める前に中止します。
  -j N                同時に処理するファイル数（既定: CPUのコア数）。ファイル数と 64 を
                      超える値は、その小さいほうにします。
  -h, --help          この説明を表示します。

数値はウィンドウの入力欄と同じ規則で読みます（10進数、または $、x、0x に続く16進数）。
反射率だけは小数で、小数点はロケールにかかわらず「.」です。
各バンドの反射率は、暗色板の反射率 + (値 - 暗色板の値) × (白色板の反射率 - 暗色板の反射率)
÷ (白色板の値 - 暗色板の値) を 0 から 1 に収めたものです。校正のオプションをどれも指定しない
ときは 値 ÷ 白色板の値（1 まで）で、ウィンドウの NDVI とバイト単位で同じです。
メッセージは標準エラー出力に、ファイルのパスを付けて書きます。端末では進み具合も表示します。
8ビット画像など処理できない画像や逆向きの矩形は、そのファイルだけが失敗になり、ほかのファイルは
続けて処理します。
出力は同じフォルダの一時ファイルに書き、そのファイルの処理がすべて成功してから出力名に置き換えます。
失敗したファイルの出力は元のまま残り、一時ファイルも残りません。Ctrl-C などで中断したときは、
処理中のファイルを同じように片付けてから、そのシグナルで終了します。

終了ステータス:
  0  すべてのファイルが成功しました。
  1  失敗したファイルがあります（最後の行に一覧）。calibrate ではフレームから較正ファイルを
     作れなかったとき、または --strict で警告があったときです。series では失敗したフレーム
     があっても、ほかのフレームの行を CSV ファイルに書きます（--strict で除いたフレームも
     失敗に数えます）。
  2  使い方の誤り、または --force なしで既存の出力ファイルがあります。
)";
}

}  // namespace batch
