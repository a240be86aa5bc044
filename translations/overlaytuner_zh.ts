<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AboutDialog</name>
    <message>
        <source>AboutDialog</source>
        <translation>关于对话框</translation>
    </message>
    <message>
        <source>Overlay tuner. Build </source>
        <translation>图像融合校准工具 构建 </translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>版本：</translation>
    </message>
    <message>
        <source>%1</source>
        <translation>%1</translation>
    </message>
    <message>
        <source> </source>
        <translation> </translation>
    </message>
    <message>
        <source>Jan</source>
        <translation>Jan</translation>
    </message>
    <message>
        <source>Feb</source>
        <translation>Feb</translation>
    </message>
    <message>
        <source>Mar</source>
        <translation>Mar</translation>
    </message>
    <message>
        <source>Apr</source>
        <translation>Apr</translation>
    </message>
    <message>
        <source>May</source>
        <translation>May</translation>
    </message>
    <message>
        <source>Jun</source>
        <translation>Jun</translation>
    </message>
    <message>
        <source>Jul</source>
        <translation>Jul</translation>
    </message>
    <message>
        <source>Aug</source>
        <translation>Aug</translation>
    </message>
    <message>
        <source>Sep</source>
        <translation>Sep</translation>
    </message>
    <message>
        <source>Oct</source>
        <translation>Oct</translation>
    </message>
    <message>
        <source>Nov</source>
        <translation>Nov</translation>
    </message>
    <message>
        <source>Dec</source>
        <translation>Dec</translation>
    </message>
    <message>
        <source>01</source>
        <translation>01</translation>
    </message>
    <message>
        <source>02</source>
        <translation>02</translation>
    </message>
    <message>
        <source>03</source>
        <translation>03</translation>
    </message>
    <message>
        <source>04</source>
        <translation>04</translation>
    </message>
    <message>
        <source>05</source>
        <translation>05</translation>
    </message>
    <message>
        <source>06</source>
        <translation>06</translation>
    </message>
    <message>
        <source>07</source>
        <translation>07</translation>
    </message>
    <message>
        <source>08</source>
        <translation>08</translation>
    </message>
    <message>
        <source>09</source>
        <translation>09</translation>
    </message>
    <message>
        <source>10</source>
        <translation>10</translation>
    </message>
    <message>
        <source>11</source>
        <translation>11</translation>
    </message>
    <message>
        <source>12</source>
        <translation>12</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
</context>
<context>
    <name>AutoAlignDialog</name>
    <message>
        <source>Auto Align</source>
        <translation>自动对准</translation>
    </message>
    <message>
        <source>Drag a rectangle around the objects at the distance that matters, or leave the whole picture.</source>
        <translation>在关心的距离处的物体周围拖出一个矩形，或保留整幅画面。</translation>
    </message>
    <message>
        <source>Whole picture</source>
        <translation>整幅画面</translation>
    </message>
    <message>
        <source>Clear region</source>
        <translation>清除区域</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>开始</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Channel 1 has shown no picture yet; the whole picture will be used.</source>
        <translation>通道 1 尚未显示画面；将使用整幅画面。</translation>
    </message>
    <message>
        <source>No still of channel 1 could be taken (error %1); the whole picture will be used.</source>
        <translation>无法获取通道 1 的静态画面（错误 %1）；将使用整幅画面。</translation>
    </message>
    <message>
        <source>Starting…</source>
        <translation>正在开始…</translation>
    </message>
    <message>
        <source>Cancelling: the calibration is being put back…</source>
        <translation>正在取消：正在恢复校准值…</translation>
    </message>
    <message>
        <source>Region: %1 x %2 px at (%3, %4)</source>
        <translation>区域：%1 x %2 像素，位于 (%3, %4)</translation>
    </message>
    <message>
        <source>Residual: %1 px (best possible: not known yet)</source>
        <translation>残差：%1 像素（最佳可达：尚未知）</translation>
    </message>
    <message>
        <source>Residual: %1 px (best possible: %2 px)</source>
        <translation>残差：%1 像素（最佳可达：%2 像素）</translation>
    </message>
    <message>
        <source>Result: aligned.</source>
        <translation>结果：已对准。</translation>
    </message>
    <message>
        <source>Result: not aligned, the pictures cannot be registered; the calibration was put back.</source>
        <translation>结果：未对准，两路画面无法配准；校准值已恢复。</translation>
    </message>
    <message>
        <source>Result: cancelled; the calibration was put back.</source>
        <translation>结果：已取消；校准值已恢复。</translation>
    </message>
    <message>
        <source>Result: failed, the camera refused a value or could not be reached.</source>
        <translation>结果：失败，相机拒绝了某个值或无法连接。</translation>
    </message>
</context>
<context>
    <name>AutoAligner</name>
    <message>
        <source>Cancelled. The calibration and the fusion switch are as they were before Auto Align.</source>
        <translation>已取消。校准值和融合开关已恢复为自动对准之前的状态。</translation>
    </message>
    <message>
        <source>Looking at both channels without the overlay</source>
        <translation>正在查看无叠加的两路画面</translation>
    </message>
    <message>
        <source>Finding the overlay</source>
        <translation>正在寻找叠加层</translation>
    </message>
    <message>
        <source>Learning how the camera answers the bias</source>
        <translation>正在学习相机对偏移的响应</translation>
    </message>
    <message>
        <source>Learning how the camera answers the scale ratio</source>
        <translation>正在学习相机对缩放比例的响应</translation>
    </message>
    <message>
        <source>Correcting</source>
        <translation>正在校正</translation>
    </message>
    <message>
        <source>The fusion switch could not be set: %1</source>
        <translation>无法设置融合开关：%1</translation>
    </message>
    <message>
        <source>The camera did not take the calibration: %1</source>
        <translation>相机未接受校准值：%1</translation>
    </message>
    <message>
        <source>Channel %1 shows no picture (error %2).</source>
        <translation>通道 %1 没有画面（错误 %2）。</translation>
    </message>
    <message>
        <source>Channel %1 sends no new pictures: its stream is frozen or missing.</source>
        <translation>通道 %1 没有发送新画面：其视频流已冻结或丢失。</translation>
    </message>
    <message>
        <source>Finding where the overlay must go</source>
        <translation>正在寻找叠加层应在的位置</translation>
    </message>
    <message>
        <source>A channel shows a black or flat picture.</source>
        <translation>某个通道显示的是黑色或平坦的画面。</translation>
    </message>
    <message>
        <source>A channel&apos;s picture does not change: its stream is frozen.</source>
        <translation>某个通道的画面没有变化：其视频流已冻结。</translation>
    </message>
    <message>
        <source>The thermal picture has too little structure to register (a scene at one temperature).</source>
        <translation>热成像画面的结构太少，无法配准（场景温度单一）。</translation>
    </message>
    <message>
        <source>The visible picture has too little structure to register.</source>
        <translation>可见光画面的结构太少，无法配准。</translation>
    </message>
    <message>
        <source>Switching fusion on does not show the thermal picture in channel 1.</source>
        <translation>打开融合后通道 1 中没有显示热成像画面。</translation>
    </message>
    <message>
        <source>No shift or scale makes the two pictures agree.</source>
        <translation>任何偏移或缩放都无法使两路画面一致。</translation>
    </message>
    <message>
        <source>Parts of the picture lie at different distances and none dominates: draw a region around the distance that matters.</source>
        <translation>画面各部分处于不同距离且没有主导距离：请在关心的距离周围画出一个区域。</translation>
    </message>
    <message>
        <source>The fit of the pictures did not converge.</source>
        <translation>画面拟合未能收敛。</translation>
    </message>
    <message>
        <source>The pictures cannot be compared.</source>
        <translation>无法比较两路画面。</translation>
    </message>
    <message>
        <source>The measurements disagree from one picture to the next, so where the overlay must go is not known well enough.</source>
        <translation>各帧画面的测量结果不一致，因此无法足够准确地确定叠加层应在的位置。</translation>
    </message>
    <message>
        <source>The overlay does not stand still after a write, so it cannot be measured.</source>
        <translation>写入后叠加层不稳定，因此无法测量。</translation>
    </message>
    <message>
        <source>A calibration value has no room to be tried.</source>
        <translation>某个校准值没有可供尝试的余量。</translation>
    </message>
    <message>
        <source>Aligned: the overlay is %1 px off (the camera&apos;s steps allow %2 px), after %3 writes.</source>
        <translation>已对准：叠加层偏差 %1 像素（相机步进所允许的为 %2 像素），共写入 %3 次。</translation>
    </message>
    <message>
        <source>The camera could not be put back as it was: %1. Use Calibration &gt; Revert Calibration once it answers.</source>
        <translation>无法将相机恢复为原来的状态：%1。相机响应后请使用“校准 &gt; 恢复校准”。</translation>
    </message>
</context>
<context>
    <name>CameraConnectWidget</name>
    <message>
        <source>CameraConnectWidget</source>
        <translation>连接相机</translation>
    </message>
    <message>
        <source>IP Address:</source>
        <translation>IP 地址：</translation>
    </message>
    <message>
        <source>192.168.0.100</source>
        <translation>192.168.0.100</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>端口：</translation>
    </message>
    <message>
        <source>8000</source>
        <translation>8000</translation>
    </message>
    <message>
        <source>User Name:</source>
        <translation>用户名：</translation>
    </message>
    <message>
        <source>admin</source>
        <translation>admin</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>密码：</translation>
    </message>
    <message>
        <source>wtkq7350</source>
        <translation>wtkq7350</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>连接</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>CenterWidget</name>
    <message>
        <source>CenterWidget</source>
        <translation>预览区</translation>
    </message>
    <message>
        <source>Double PreView</source>
        <translation>双通道预览</translation>
    </message>
</context>
<context>
    <name>FindCamerasDialog</name>
    <message>
        <source>Find Cameras</source>
        <translation>查找相机</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>地址</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>Search Again</source>
        <translation>重新查找</translation>
    </message>
    <message>
        <source>Connect…</source>
        <translation>连接…</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Looking for cameras on the networks of this computer…</source>
        <translation>正在本机所在的网络中查找相机…</translation>
    </message>
    <message>
        <source>Cameras found: %1. Choose one and press Connect… to log in to it.</source>
        <translation>找到相机：%1 台。请选择一台，然后按“连接…”登录。</translation>
    </message>
    <message>
        <source>No camera could be looked for: no network interface of this computer is up and able to multicast. Connect it to the cameras&apos; network and search again.</source>
        <translation>无法查找相机：本机没有已启用且支持组播的网络接口。请将本机接入相机所在的网络后重新查找。</translation>
    </message>
    <message>
        <source>No camera answered. Check that the camera is on the same network as this computer and that the network lets multicast through (WS-Discovery, UDP port 3702); a camera elsewhere can still be reached with Camera &gt; Connect.</source>
        <translation>没有相机应答。请检查相机与本机是否在同一网络中，以及网络是否允许组播通过（WS-Discovery，UDP 端口 3702）；其他网络中的相机仍可通过“相机 &gt; 连接”来连接。</translation>
    </message>
</context>
<context>
    <name>LiveAlignCamera</name>
    <message>
        <source>The camera refused the calibration (status %1).</source>
        <translation>相机拒绝了校准值（状态 %1）。</translation>
    </message>
    <message>
        <source>The camera could not be reached (error %1).</source>
        <translation>无法连接相机（错误 %1）。</translation>
    </message>
</context>
<context>
    <name>OverlayTuner</name>
    <message>
        <source>Warn</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Connect is failed. Error:%1</source>
        <translation>连接失败。错误：%1</translation>
    </message>
    <message>
        <source>[Channel %1] RealPlay failed [%2].</source>
        <translation>[通道 %1] 实时预览失败 [%2]。</translation>
    </message>
    <message>
        <source>%1 Connected</source>
        <translation>%1 已连接</translation>
    </message>
    <message>
        <source>Disconnected</source>
        <translation>未连接</translation>
    </message>
    <message>
        <source>The camera could not be reached (error %1).</source>
        <translation>无法连接相机（错误 %1）。</translation>
    </message>
    <message>
        <source>The camera refused the calibration (status %1).</source>
        <translation>相机拒绝了校准值（状态 %1）。</translation>
    </message>
    <message>
        <source>The calibration read at the connect could not be written back. %1</source>
        <translation>无法写回连接时读取的校准值。%1</translation>
    </message>
</context>
<context>
    <name>OverlayTunerClass</name>
    <message>
        <source>OverlayTuner</source>
        <translation>图像融合校准</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>相机</translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>连接</translation>
    </message>
    <message>
        <source>Find Cameras…</source>
        <translation>查找相机…</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>断开</translation>
    </message>
    <message>
        <source>Calibration</source>
        <translation>校准</translation>
    </message>
    <message>
        <source>Auto Align…</source>
        <translation>自动对准…</translation>
    </message>
    <message>
        <source>Revert Calibration</source>
        <translation>恢复校准</translation>
    </message>
</context>
<context>
    <name>SettingWidget</name>
    <message>
        <source>SettingWidget</source>
        <translation>校准设置</translation>
    </message>
    <message>
        <source>Distance:</source>
        <translation>距离：</translation>
    </message>
    <message>
        <source>(shift + up/down)</source>
        <translation>(shift + 上/下)</translation>
    </message>
    <message>
        <source>Horizontal shift:</source>
        <translation>水平偏移：</translation>
    </message>
    <message>
        <source>(left/right)</source>
        <translation>(左/右)</translation>
    </message>
    <message>
        <source>Vertical shift:</source>
        <translation>垂直偏移：</translation>
    </message>
    <message>
        <source>(up/down)</source>
        <translation>(上/下)</translation>
    </message>
    <message>
        <source>Horizontal scaling:</source>
        <translation>水平缩放：</translation>
    </message>
    <message>
        <source>(ctrl + left/right)</source>
        <translation>(ctrl + 左/右)</translation>
    </message>
    <message>
        <source>Vertical scaling:</source>
        <translation>垂直缩放：</translation>
    </message>
    <message>
        <source>(ctrl + up/down)</source>
        <translation>(ctrl + 上/下)</translation>
    </message>
    <message>
        <source>Tip: can using Shortcut to set!</source>
        <translation>提示：可以使用快捷键设置！</translation>
    </message>
</context>
<context>
    <name>StatusBarInsertWidget</name>
    <message>
        <source>StatusBarInsertWidget</source>
        <translation>状态栏</translation>
    </message>
    <message>
        <source>Disconnected</source>
        <translation>未连接</translation>
    </message>
    <message>
        <source>Fusion ON</source>
        <translation>开启融合</translation>
    </message>
</context>
</TS>
