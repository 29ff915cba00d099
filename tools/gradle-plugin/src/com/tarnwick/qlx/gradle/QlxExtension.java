// qlx { }: the settings of the program, the same ones the Maven plugin
// takes. Plain properties; a setting also set on the task wins there.
package com.tarnwick.qlx.gradle;

import java.io.File;
import javax.inject.Inject;
import org.gradle.api.Project;
import java.util.ArrayList;
import java.util.List;

public class QlxExtension {
    private final Project project;
    String platform = "windows";
    File stub;
    String mainClass;
    List<String> options = new ArrayList<String>();
    String minJre;
    String maxJre;
    String singleInstance;
    String serviceName;
    String displayName;
    String serviceDescription;
    List<String> serviceDependencies = new ArrayList<String>();
    String startType;
    String account;
    String recovery;
    String failOnExit;
    File icon;
    String fileVersion;
    String productVersion;
    String productName;
    String companyName;
    String fileDescription;
    String copyright;
    String executionLevel = "asInvoker";
    boolean utf8CodePage;
    boolean support;
    File configFile;
    List<String> config = new ArrayList<String>();
    String dependencies = "merge";
    File output;

    @Inject
    public QlxExtension(Project project) {
        this.project = project;
    }

    /** A file setting takes anything project.file() takes. */
    private File file(Object v) {
        return v == null ? null : project.file(v);
    }

    public String getPlatform() { return platform; }
    public void setPlatform(String v) { platform = v; }
    public File getStub() { return stub; }
    public void setStub(Object v) { stub = file(v); }
    public String getMainClass() { return mainClass; }
    public void setMainClass(String v) { mainClass = v; }
    public List<String> getOptions() { return options; }
    public void setOptions(List<String> v) { options = new ArrayList<String>(v); }
    public String getMinJre() { return minJre; }
    public void setMinJre(String v) { minJre = v; }
    public String getMaxJre() { return maxJre; }
    public void setMaxJre(String v) { maxJre = v; }
    public String getSingleInstance() { return singleInstance; }
    public void setSingleInstance(String v) { singleInstance = v; }
    public String getServiceName() { return serviceName; }
    public void setServiceName(String v) { serviceName = v; }
    public String getDisplayName() { return displayName; }
    public void setDisplayName(String v) { displayName = v; }
    public String getServiceDescription() { return serviceDescription; }
    public void setServiceDescription(String v) { serviceDescription = v; }
    public List<String> getServiceDependencies() { return serviceDependencies; }
    public void setServiceDependencies(List<String> v) { serviceDependencies = new ArrayList<String>(v); }
    public String getStartType() { return startType; }
    public void setStartType(String v) { startType = v; }
    public String getAccount() { return account; }
    public void setAccount(String v) { account = v; }
    public String getRecovery() { return recovery; }
    public void setRecovery(String v) { recovery = v; }
    public String getFailOnExit() { return failOnExit; }
    public void setFailOnExit(String v) { failOnExit = v; }
    public File getIcon() { return icon; }
    public void setIcon(Object v) { icon = file(v); }
    public String getFileVersion() { return fileVersion; }
    public void setFileVersion(String v) { fileVersion = v; }
    public String getProductVersion() { return productVersion; }
    public void setProductVersion(String v) { productVersion = v; }
    public String getProductName() { return productName; }
    public void setProductName(String v) { productName = v; }
    public String getCompanyName() { return companyName; }
    public void setCompanyName(String v) { companyName = v; }
    public String getFileDescription() { return fileDescription; }
    public void setFileDescription(String v) { fileDescription = v; }
    public String getCopyright() { return copyright; }
    public void setCopyright(String v) { copyright = v; }
    public String getExecutionLevel() { return executionLevel; }
    public void setExecutionLevel(String v) { executionLevel = v; }
    public boolean isUtf8CodePage() { return utf8CodePage; }
    public void setUtf8CodePage(boolean v) { utf8CodePage = v; }
    public boolean isSupport() { return support; }
    public void setSupport(boolean v) { support = v; }
    public File getConfigFile() { return configFile; }
    public void setConfigFile(Object v) { configFile = file(v); }
    public List<String> getConfig() { return config; }
    public void setConfig(List<String> v) { config = new ArrayList<String>(v); }
    public String getDependencies() { return dependencies; }
    public void setDependencies(String v) { dependencies = v; }
    public File getOutput() { return output; }
    public void setOutput(Object v) { output = file(v); }
}
